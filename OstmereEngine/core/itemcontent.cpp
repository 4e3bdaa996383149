#include "core/itemcontent.h"

#include "core/pathopen.h"
#include "core/platform.h"
#include "core/tkerr.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Its failures read as those of the file reader it took over from.
TK_MODULE("fileReader");

namespace ostmere {

namespace {

// Without blocking: a pipe swapped in since the listing must not hang the open.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;

bool readLinkAt(int directory, const char* name, std::string& target) {
    char text[kMaxLinkTarget + 2];
    const ssize_t n = readlinkat(directory, name, text, sizeof text);
    if (n < 0)
        return false;
    if (static_cast<size_t>(n) > kMaxLinkTarget) {
        errno = ENAMETOOLONG;
        return false;
    }
    target.assign(text, static_cast<size_t>(n));
    return true;
}

bool readLinkText(const std::string& native, std::string& target) {
    CPathAnchor anchor;
    return anchorPath(native, anchor) && readLinkAt(anchor.directory, anchor.name.c_str(), target);
}

} // namespace

bool CItemContent::open(const std::u16string& fullPath, const char16_t* failureText) {
    const std::string native = nativePath(fullPath);
    reset();
    fd_.reset(openPath(native, kOpenFlags));
    return finishOpen(fullPath, failureText, [&] { return readLinkText(native, target_); });
}

bool CItemContent::openIn(int directory, const std::string& name, const std::u16string& fullPath,
                          const char16_t* failureText) {
    reset();
    fd_.reset(::openat(directory, name.c_str(), kOpenFlags));
    return finishOpen(fullPath, failureText,
                      [&] { return readLinkAt(directory, name.c_str(), target_); });
}

void CItemContent::reset() {
    fd_.reset();
    isLink_ = false;
    position_ = 0;
}

template <class ReadLink>
bool CItemContent::finishOpen(const std::u16string& fullPath, const char16_t* failureText,
                              ReadLink readLink) {
    if (!fd_) {
        if (errno != ELOOP || !readLink())
            TK_RAISE_SYSTEM(failureText + fullPath);
        isLink_ = true;
        size_ = target_.size();
        return true;
    }
    struct stat st;
    if (fstat(fd_.get(), &st) != 0)
        TK_RAISE_SYSTEM(failureText + fullPath);
    if (!S_ISREG(st.st_mode))
        return false;
    // The flag stays: regular files ignore it on nearly every file system, and read() clears
    // it where one does not, which saves two calls per file on trees of small files.
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

size_t CItemContent::read(void* buffer, size_t n) {
    if (isLink_) {
        const size_t count = std::min<size_t>(n, target_.size() - position_);
        std::memcpy(buffer, target_.data() + position_, count);
        position_ += count;
        return count;
    }
    for (;;) {
        const ssize_t got = ::read(fd_.get(), buffer, n);
        if (got >= 0)
            return static_cast<size_t>(got);
        if (errno == EAGAIN) {
            const int flags = fcntl(fd_.get(), F_GETFL);
            if (flags == -1 || !(flags & O_NONBLOCK) ||
                fcntl(fd_.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
                return 0;
            continue;
        }
        if (errno != EINTR)
            return 0;
    }
}

void CItemContent::adviseSequential() {
    if (fd_)
        posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool CItemContent::sizeUnchanged() const {
    if (isLink_)
        return true;
    struct stat st;
    return fstat(fd_.get(), &st) == 0 && static_cast<uint64_t>(st.st_size) == size_;
}

} // namespace ostmere
