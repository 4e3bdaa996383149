#include "core/pathopen.h"

#include <cerrno>
#include <fcntl.h>

namespace ostmere {

namespace {

// Opens the directory named by native (a path without a trailing name) piece by piece.
CDescriptor openDirectoryInPieces(const std::string& native) {
    CDescriptor current(
        ::open(native.empty() || native[0] != '/' ? "." : "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    eachPathPiece(native, [&](const std::string& piece) {
        current =
            CDescriptor(::openat(current.get(), piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        return current.valid();
    });
    return current;
}

} // namespace

bool eachPathPiece(const std::string& path, const std::function<bool(const std::string&)>& step) {
    std::string piece;
    size_t at = 0;
    while (at < path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        if (end > at) { // one component, at most NAME_MAX long, so it always fits a piece
            if (!piece.empty() && piece.size() + 1 + (end - at) > kPathPiece) {
                if (!step(piece))
                    return false;
                piece.clear();
            }
            if (!piece.empty())
                piece += '/';
            piece.append(path, at, end - at);
        }
        at = end + 1;
    }
    return piece.empty() || step(piece);
}

bool anchorPath(const std::string& native, CPathAnchor& anchor) {
    anchor.owned.reset();
    if (native.size() < kPathPiece) {
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
