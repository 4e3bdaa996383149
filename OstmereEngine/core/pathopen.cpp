#include "core/pathopen.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>

namespace ostmere {

namespace {

// Longest piece of a path handed to one openat; well below PATH_MAX so that the kernel never
// refuses it, and long enough that ordinary deep trees need only a few steps.
constexpr size_t kPiece = PATH_MAX / 2;

// Opens the directory named by native (a path without a trailing name) piece by piece.
CDescriptor openDirectoryInPieces(const std::string& native) {
    CDescriptor current(
        ::open(native.empty() || native[0] != '/' ? "." : "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string piece;
    auto step = [&] {
        if (current && !piece.empty())
            current = CDescriptor(
                ::openat(current.get(), piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        piece.clear();
    };
    size_t at = 0;
    while (at < native.size()) {
        size_t end = native.find('/', at);
        if (end == std::string::npos)
            end = native.size();
        if (end > at) { // one component, at most NAME_MAX long, so it always fits a piece
            if (!piece.empty() && piece.size() + 1 + (end - at) > kPiece)
                step();
            if (!piece.empty())
                piece += '/';
            piece.append(native, at, end - at);
        }
        at = end + 1;
    }
    step();
    return current;
}

} // namespace

bool anchorPath(const std::string& native, CPathAnchor& anchor) {
    anchor.owned.reset();
    if (native.size() < kPiece) {
        anchor.directory = AT_FDCWD;
        anchor.name = native;
        return true;
    }
    size_t slash = native.find_last_of('/');
    while (slash != std::string::npos && slash + 1 == native.size()) // trailing separators
        slash = slash ? native.find_last_of('/', slash - 1) : std::string::npos;
    if (slash == std::string::npos) {
        errno = ENAMETOOLONG; // one component longer than any name can be
        return false;
    }
    anchor.owned = openDirectoryInPieces(native.substr(0, slash));
    if (!anchor.owned)
        return false;
    anchor.directory = anchor.owned.get();
    anchor.name = native.substr(slash + 1);
    while (!anchor.name.empty() && anchor.name.back() == '/')
        anchor.name.pop_back();
    if (anchor.name.empty())
        anchor.name = ".";
    return true;
}

int openPath(const std::string& native, int flags, mode_t mode) {
    CPathAnchor anchor;
    if (!anchorPath(native, anchor))
        return -1;
    return ::openat(anchor.directory, anchor.name.c_str(), flags, mode);
}

bool statPath(const std::string& native, struct stat& st, int atFlags) {
    CPathAnchor anchor;
    return anchorPath(native, anchor) &&
           ::fstatat(anchor.directory, anchor.name.c_str(), &st, atFlags) == 0;
}

} // namespace ostmere
