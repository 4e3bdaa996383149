#include "core/beneath.h"

#include "OstmereEngine.h"
#include "core/names.h"
#include "core/pathopen.h"
#include "core/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ostmere {

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A directory we may search but not list is still a place to act in.
constexpr int kSearchOnlyFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// "\a\b" -> "a/b"
std::string nativeRelative(const std::u16string& relDir) {
    return nativePath(relDir.empty() ? relDir : relDir.substr(1));
}

int openComponent(int at, const char* name) {
    int fd = openat(at, name, kDirectoryFlags);
    if (fd < 0 && errno == EACCES)
        fd = openat(at, name, kSearchOnlyFlags);
    return fd;
}

// The kernel resolves a path in one call and refuses any link and any way out; -2 when it
// cannot (older kernel, filtered system call, a directory we may only search).
int openOnce(int at, const std::string& rel) {
#ifdef SYS_openat2
    open_how how{};
    how.flags = kDirectoryFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = syscall(SYS_openat2, at, rel.c_str(), &how, sizeof how);
    if (fd >= 0)
        return static_cast<int>(fd);
    if (errno == ENOSYS || errno == EPERM || errno == E2BIG || errno == EACCES)
        return -2;
    return -1;
#else
    (void)at, (void)rel;
    return -2;
#endif
}

// A path longer than one call takes is resolved a piece at a time, each piece beneath the
// directory the one before reached, so a tree of any depth costs one call per piece.
int openWhole(int root, const std::string& rel) {
    if (rel.size() < kPathPiece)
        return openOnce(root, rel);
    CDescriptor current;
    int failure = -1;
    const bool reached = eachPathPiece(rel, [&](const std::string& piece) {
        const int fd = openOnce(current ? current.get() : root, piece);
        failure = fd;
        current.reset(fd < 0 ? -1 : fd);
        return current.valid();
    });
    return reached ? current.release() : failure;
}

template <class F> void eachComponent(const std::string& rel, F&& f) {
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos)
            end = rel.size();
        if (!f(rel.substr(start, end - start)))
            return;
        start = end + 1;
    }
}

} // namespace

CDescriptor openDirectory(const std::u16string& path) {
    return CDescriptor(::open(nativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

CDescriptor openDirectoryBeneath(int root, const std::u16string& relDir) {
    if (relDir.empty())
        return CDescriptor(fcntl(root, F_DUPFD_CLOEXEC, 0));
    const std::string rel = nativeRelative(relDir);
    int whole = openWhole(root, rel);
    if (whole != -2)
        return CDescriptor(whole);
    CDescriptor current;
    int at = root;
    bool ok = true;
    eachComponent(rel, [&](const std::string& name) {
        CDescriptor next(openComponent(at, name.c_str()));
        ok = next.valid();
        current = std::move(next);
        at = current.get();
        return ok;
    });
    return ok ? std::move(current) : CDescriptor();
}

bool linkBeneath(int root, const std::u16string& relDir) {
    bool link = false;
    CDescriptor current;
    int at = root;
    eachComponent(nativeRelative(relDir), [&](const std::string& name) {
        struct stat st;
        if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (S_ISLNK(st.st_mode))
            return !(link = true);
        current = CDescriptor(openComponent(at, name.c_str()));
        at = current.get();
        return current.valid();
    });
    return link;
}

void splitLeaf(const std::u16string& relPath, std::u16string& parent, std::string& leaf) {
    size_t at = relPath.rfind(u'\\');
    if (at == std::u16string::npos)
        at = 0;
    parent = relPath.substr(0, at);
    leaf = nativeName(relPath.substr(at + 1));
}

int CParentResolver::parentOf(const std::u16string& relPath, std::string& leaf) {
    splitLeaf(relPath, parent_, leaf);
    if (parent_.empty())
        return root_;
    if (haveCached_ && parent_ == cachedPath_)
        return cached_.get();
    // Items come in path order, so the next directory is often one below the last: reached
    // from there, a deep tree costs one step per level instead of its whole depth per item.
    const bool below = haveCached_ && parent_.size() > cachedPath_.size() &&
                       parent_[cachedPath_.size()] == u'\\' &&
                       parent_.compare(0, cachedPath_.size(), cachedPath_) == 0;
    cached_ = below ? openDirectoryBeneath(cached_.get(), parent_.substr(cachedPath_.size()))
                    : openDirectoryBeneath(root_, parent_);
    cachedPath_ = parent_;
    haveCached_ = cached_.valid();
    return haveCached_ ? cached_.get() : -1;
}

int changeDirectoryMode(int dir, mode_t mode) {
    if (fchmod(dir, mode) == 0)
        return 0;
    if (errno != EBADF)
        return -1;
    const std::string proc = "/proc/self/fd/" + std::to_string(dir);
    return chmod(proc.c_str(), mode);
}

int withOwnerWrite(int dir, const std::u16string& relDir, CModeLog* log,
                   const std::function<int()>& op) {
    int result = op();
    if (result == 0 || errno != EACCES)
        return result;
    const int failure = errno;
    struct stat st;
    if (fstat(dir, &st) != 0 || (st.st_mode & S_IWUSR)) {
        errno = failure;
        return result;
    }
    const mode_t mode = st.st_mode & 07777;
    if (log)
        log->recordMode(relDir, mode);
    if (changeDirectoryMode(dir, mode | S_IWUSR) != 0) {
        errno = failure;
        return result;
    }
    result = op();
    const int opErrno = errno;
    changeDirectoryMode(dir, mode);
    errno = opErrno;
    return result;
}

int removeEntry(int dir, const std::string& leaf) {
    return unlinkat(dir, leaf.c_str(), isDirectoryEntry(dir, leaf) ? AT_REMOVEDIR : 0);
}

bool isDirectoryEntry(int dir, const std::string& leaf) {
    struct stat st;
    return fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool entryExists(int dir, const std::string& leaf) {
    struct stat st;
    return fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool setEntryAttributes(int dir, const std::string& leaf, uint32_t attributes) {
    struct stat st;
    if (fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    // A link has no bits to set; a word for a link set on anything else (or the reverse) means
    // the entry is not the item the patch describes.
    if (S_ISLNK(st.st_mode) || isLinkWord(attributes))
        return S_ISLNK(st.st_mode) && isLinkWord(attributes);
    mode_t mode = st.st_mode & 07777;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    // Never follows: should the entry have become a link since, the call fails.
    return mode == (st.st_mode & 07777) ||
           fchmodat(dir, leaf.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace ostmere
