// The fingerprint a target will have once a patch is applied, known before anything changes.
#pragma once

#include "compare/patchinfo.h"
#include "snapshot/dirscan.h"

namespace ostmere {

// current: the target's snapshot; stagedIds: the file id of every stored file by its path.
// The attribute words are those the apply will produce from AttributeChanges.
std::u16string predictFingerprint(const CDirSnapshot& current, const CPatchInfo& patch,
                                  const TextMap& stagedIds, CProgressSink* bufferSource);

} // namespace ostmere
