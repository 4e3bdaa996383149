// XML document layer and the two XML file formats: vault and diff report.
#pragma once

#include "OstmereEngine.h"
#include "compare/patchinfo.h"
#include "snapshot/dirscan.h"

#include <string>
#include <vector>

namespace ostmere {

void writeVault(CProgressSink* sink, const std::u16string& vaultFile, const CDirSnapshot& snapshot);
CDirSnapshot readVault(CProgressSink* sink, const std::u16string& vaultFile);
void writeDiffReport(CProgressSink* sink, const std::u16string& reportFile, const CPatchInfo& info);

} // namespace ostmere
