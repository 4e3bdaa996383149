// Opening and examining paths of any length: a path too long for one system call is reached
// by opening its directories a piece at a time and naming the last component relative to them.
#pragma once

#include "core/descriptor.h"

#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace ostmere {

// A directory to resolve a name against, and that name. For a path short enough to be
// resolved in one call the directory is the working directory and the name the whole path.
struct CPathAnchor {
    CDescriptor owned;
    int directory = -1;
    std::string name;
};

// Longest piece of a path handed to one system call; well below PATH_MAX so that the kernel
// never refuses it, and long enough that ordinary deep trees need only a few steps.
constexpr size_t kPathPiece = 2048;

// Calls step with successive pieces of path, each of whole components (empty ones dropped)
// and at most kPathPiece long when its components allow; stops at the first false. Returns
// whether every step succeeded.
bool eachPathPiece(const std::string& path, const std::function<bool(const std::string&)>& step);

// False (errno set) when a directory on the way cannot be opened.
bool anchorPath(const std::string& native, CPathAnchor& anchor);
// open(2) and fstatat(2) for paths of any length; -1 and false with errno set on failure.
int openPath(const std::string& native, int flags, mode_t mode = 0);
bool statPath(const std::string& native, struct stat& st, int atFlags = 0);

} // namespace ostmere
