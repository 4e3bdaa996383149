// File ids and the directory fingerprint.
#pragma once

#include "snapshot/dirscan.h"

namespace ostmere {

void calcFileIds(CProgressSink* sink, const std::u16string& root, CDirSnapshot& snapshot);
// Sorts the snapshot's directory and file lists in place.
std::u16string calcFingerprint(CDirSnapshot& snapshot, CProgressSink* sink);

} // namespace ostmere
