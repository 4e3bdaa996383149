// Item removal and the checks that keep paths inside a tree.
#pragma once

#include "OstmereEngine.h"

#include <string>

namespace ostmere {

// Removes one file or one empty directory, clearing its read-only bit first.
bool removeItem(bool tolerant, const std::u16string& path);

// True when something (file, directory or link) exists at the path.
bool itemExists(const std::u16string& path);
// Refuses a relative path below root whose parent components pass through a symbolic link:
// following it could act on something outside the tree.
void requireNoLinkOnTheWay(const std::u16string& root, const std::u16string& relPath);
bool linkOnTheWay(const std::u16string& root, const std::u16string& relPath);

} // namespace ostmere
