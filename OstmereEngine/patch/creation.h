// Writing a patch file (and its report) from two snapshots.
#pragma once

#include "compare/patchinfo.h"
#include "snapshot/dirscan.h"

namespace ostmere {

void createPatch(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older, CTimer* timer,
                 const std::u16string& patchFile, const std::u16string& reportFile);
void writePatch(CProgressSink* sink, const CPatchInfo& info, const std::u16string& newerRoot,
                const std::u16string& patchFile);

} // namespace ostmere
