// Comparing an older snapshot with a newer one into the patch information.
#pragma once

#include "compare/patchinfo.h"
#include "snapshot/dirscan.h"

namespace ostmere {

CPatchInfo compareSnapshots(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older);
void addSummaryEntries(CPatchInfo& info, const CDirSnapshot& newer, const CDirSnapshot& older);

} // namespace ostmere
