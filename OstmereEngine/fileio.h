// File hashing, item removal and the checks that keep paths inside a tree.
#pragma once

#include "OstmereEngine.h"
#include "sha1.h"

#include <string>

namespace ostmere {

// Removes one file or one empty directory, clearing its read-only bit first.
bool removeItem(bool tolerant, const std::u16string& path);
// Feeds the whole content of a file into sha, through the sink's work buffer.
void hashFile(CProgressSink* sink, const std::u16string& fullPath, CSha1& sha);
// A directory entry's name in engine form; a name holding "\" cannot be represented.
std::u16string entryName(const std::u16string& directory, const std::string& rawName);

// True when something (file, directory or link) exists at the path.
bool itemExists(const std::u16string& path);
// Refuses a relative path below root whose parent components pass through a symbolic link:
// following it could act on something outside the tree.
void requireNoLinkOnTheWay(const std::u16string& root, const std::u16string& relPath);
bool linkOnTheWay(const std::u16string& root, const std::u16string& relPath);

} // namespace ostmere
