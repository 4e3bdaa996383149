#include "core/platform.h"

#include "core/names.h"

#include "OstmereEngine.h"
#include "core/pathopen.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ostmere {

std::string nativePath(const std::u16string& path) {
    return nativeName(path);
}

namespace {

uint32_t wordOf(const struct stat& st) {
    uint32_t word = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (S_ISLNK(st.st_mode))
        word |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (!(st.st_mode & S_IWUSR))
        word |= FILE_ATTRIBUTE_READONLY;
    return word;
}

EntryKind kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return EntryKind::directory;
    if (S_ISLNK(mode))
        return EntryKind::link;
    if (S_ISFIFO(mode))
        return EntryKind::fifo;
    if (S_ISSOCK(mode))
        return EntryKind::socket;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return EntryKind::device;
    return EntryKind::file;
}

} // namespace

const char16_t* skipReason(EntryKind kind) {
    switch (kind) {
    case EntryKind::fifo:
        return u"named pipe";
    case EntryKind::socket:
        return u"socket";
    case EntryKind::device:
        return u"device node";
    default:
        return u"";
    }
}

uint32_t getFileAttributes(const std::u16string& path) {
    std::string native = nativePath(path);
    struct stat st;
    // A dangling link cannot be followed; it is then described as the link itself.
    if (!statPath(native, st) && !statPath(native, st, AT_SYMLINK_NOFOLLOW))
        return INVALID_FILE_ATTRIBUTES;
    return wordOf(st) & ~FILE_ATTRIBUTE_REPARSE_POINT;
}

uint32_t getEntryStatus(int directory, const char* name, CItemMeta& meta) {
    struct stat st;
    if (fstatat(directory, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return INVALID_FILE_ATTRIBUTES;
    meta.mode = static_cast<uint32_t>(st.st_mode) & kModeBits;
    meta.mtimeSec = static_cast<int64_t>(st.st_mtim.tv_sec);
    meta.mtimeNsec = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    return wordOf(st);
}

bool setFileAttributes(const std::u16string& path, uint32_t attributes) {
    std::string native = nativePath(path);
    struct stat st;
    if (lstat(native.c_str(), &st) != 0 || S_ISLNK(st.st_mode))
        return false; // chmod would act on the link's target, wherever it lies
    mode_t mode = st.st_mode & 07777;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    return mode == (st.st_mode & 07777) || chmod(native.c_str(), mode) == 0;
}

bool createDirectory(const std::u16string& path) {
    return mkdir(nativePath(path).c_str(), 0777) == 0;
}

bool removeDirectory(const std::u16string& path) {
    return rmdir(nativePath(path).c_str()) == 0;
}

bool deleteFile(const std::u16string& path) {
    return unlink(nativePath(path).c_str()) == 0;
}

bool isSymbolicLink(const std::u16string& path) {
    struct stat st;
    return lstat(nativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

CDirListing::CDirListing(const std::u16string& path) : dir_(opendir(nativePath(path).c_str())) {}

CDirListing::CDirListing(int directory) : dir_(nullptr) {
    // The listing owns a duplicate, so the caller's descriptor stays open for openat; the two
    // share a position, which only the listing uses.
    int own = fcntl(directory, F_DUPFD_CLOEXEC, 0);
    if (own >= 0 && !(dir_ = fdopendir(own)))
        ::close(own);
    if (dir_)
        rewinddir(dir_);
}

CDirListing::~CDirListing() {
    if (dir_)
        closedir(dir_);
}

bool CDirListing::identity(DirIdentity& id) const {
    struct stat st;
    if (!dir_ || fstat(dirfd(dir_), &st) != 0)
        return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

bool CDirListing::next(std::string& name, EntryKind& kind) {
    if (!dir_)
        return false;
    errno = 0;
    while (dirent* entry = readdir(dir_)) {
        name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        mode_t type = DTTOIF(entry->d_type);
        if (entry->d_type == DT_UNKNOWN) {
            // Some file systems leave the type to a stat of the entry itself.
            struct stat st;
            if (fstatat(dirfd(dir_), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return failed_ = true, false;
            type = st.st_mode;
        }
        kind = kindOf(type);
        return true;
    }
    failed_ = errno != 0;
    return false;
}

bool computerName(std::u16string& name) {
    char buffer[260] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        return false;
    name = utf8ToUtf16(buffer);
    return true;
}

bool userName(std::u16string& name) {
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    name = utf8ToUtf16(found->pw_name);
    return true;
}

} // namespace ostmere
