// Tree comparison and patch creation.
#pragma once

#include "dirscan.h"
#include "patchinfo.h"

namespace ostmere {

CPatchInfo compareSnapshots(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older);
void addSummaryEntries(CPatchInfo& info, const CDirSnapshot& newer, const CDirSnapshot& older);
void createPatch(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older, CTimer* timer,
                 const std::u16string& patchFile, const std::u16string& reportFile);
void writePatch(CProgressSink* sink, const CPatchInfo& info, const std::u16string& newerRoot,
                const std::u16string& patchFile);

} // namespace ostmere
