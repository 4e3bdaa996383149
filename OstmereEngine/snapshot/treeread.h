// What the scan reads of a file besides its name: its contents.
#pragma once

#include "OstmereEngine.h"
#include "snapshot/sha1.h"

#include <string>

namespace ostmere {

// Feeds the whole content of a file into sha, through the sink's work buffer.
void hashFile(CProgressSink* sink, const std::u16string& fullPath, CSha1& sha);

} // namespace ostmere
