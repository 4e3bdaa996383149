// What the scan reads from the file system besides listings: entry names and file contents.
#pragma once

#include "OstmereEngine.h"
#include "snapshot/sha1.h"

#include <string>

namespace ostmere {

// Feeds the whole content of a file into sha, through the sink's work buffer.
void hashFile(CProgressSink* sink, const std::u16string& fullPath, CSha1& sha);
// A directory entry's name in engine form; a name holding "\" cannot be represented.
std::u16string entryName(const std::u16string& directory, const std::string& rawName);

} // namespace ostmere
