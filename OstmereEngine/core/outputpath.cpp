#include "core/outputpath.h"

#include "core/pathopen.h"
#include "core/platform.h"
#include "core/tkerr.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TK_MODULE("fileio");

namespace ostmere {

namespace {

constexpr const char* kMarker = ".ostmere~";
constexpr const char* kSuffix = ".part";

std::string directoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string leafOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An output path after following links at its end, with its directory made absolute.
struct CResolved {
    std::string directory, leaf, path;
    bool exists = false;
    struct stat st {};
};

// False when the path ends in a link that leads nowhere (or in a loop of links): writing
// through it would create a file wherever the link points.
bool resolveOutput(const std::string& native, CResolved& out) {
    std::string path = native;
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (!statPath(path, st, AT_SYMLINK_NOFOLLOW)) {
            if (hops > 0)
                return false;
            break;
        }
        if (!S_ISLNK(st.st_mode)) {
            out.exists = true;
            out.st = st;
            break;
        }
        CPathAnchor anchor;
        char target[PATH_MAX];
        ssize_t n = hops < 40 && anchorPath(path, anchor)
                        ? readlinkat(anchor.directory, anchor.name.c_str(), target, sizeof target)
                        : -1;
        if (n <= 0 || static_cast<size_t>(n) >= sizeof target)
            return false;
        std::string next(target, static_cast<size_t>(n));
        path = next[0] == '/' ? next : directoryOf(path) + "/" + next;
    }
    out.leaf = leafOf(path);
    out.directory = directoryOf(path);
    if (char* real = realpath(out.directory.c_str(), nullptr)) {
        out.directory = real;
        std::free(real);
    } else if (out.directory[0] != '/') { // not there (yet): still compared as an absolute path
        if (char* cwd = getcwd(nullptr, 0)) {
            out.directory = std::string(cwd) + "/" + out.directory;
            std::free(cwd);
        }
    }
    out.path = out.directory == "/" ? "/" + out.leaf : out.directory + "/" + out.leaf;
    return true;
}

[[noreturn]] void refuseKind(const std::u16string& path) {
    TK_RAISE(u"Refusing to write over an item that is not a regular file: " + path);
}

CResolved resolveRegularOutput(const std::u16string& path) {
    CResolved resolved;
    if (!resolveOutput(nativePath(path), resolved) ||
        (resolved.exists && !S_ISREG(resolved.st.st_mode)))
        refuseKind(path);
    return resolved;
}

// By device and inode where both exist, by resolved path where one does not yet.
bool sameFile(const CResolved& a, const CResolved& b) {
    if (a.exists && b.exists)
        return a.st.st_dev == b.st.st_dev && a.st.st_ino == b.st.st_ino;
    return a.path == b.path;
}

// Whether the directory (absolute, resolved) is the tree's root or lies below it.
bool insideTree(const std::string& directory, const std::u16string& tree) {
    struct stat root;
    if (!statPath(nativePath(tree), root))
        return false;
    for (std::string d = directory;; d = directoryOf(d)) {
        struct stat st;
        if (statPath(d, st) && st.st_dev == root.st_dev && st.st_ino == root.st_ino)
            return true;
        if (d == "/" || d == ".")
            return false;
    }
}

std::string hostTag() {
    std::u16string name;
    std::string tag = computerName(name) ? utf16ToUtf8(name) : "";
    for (char& c : tag)
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.'))
            c = '_';
    return tag.substr(0, 64);
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

bool processGone(const std::string& digits) {
    if (!allDigits(digits) || digits.size() > 9)
        return false;
    pid_t pid = static_cast<pid_t>(std::stol(digits));
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

// Earlier versions wrote vaults and reports to "<name>.part<pid>-<n>" beside the target.
bool isAbandonedEarlierTemporary(const std::string& name, const std::string& leaf) {
    const std::string prefix = leaf + ".part";
    if (name.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::string rest = name.substr(prefix.size());
    size_t dash = rest.find('-');
    return dash != std::string::npos && allDigits(rest.substr(dash + 1)) &&
           processGone(rest.substr(0, dash));
}

void removeAbandonedTemporaries(int directory, const std::string& leaf) {
    int listed = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
    if (!dir) { // tidying up is a courtesy; the write itself decides success
        if (listed >= 0)
            ::close(listed);
        return;
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (!isAbandonedTemporary(name) && !isAbandonedEarlierTemporary(name, leaf))
            continue;
        struct stat st;
        if (fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            unlinkat(directory, name.c_str(), 0);
    }
    closedir(dir);
}

} // namespace

std::string temporaryName(const std::string& leaf, unsigned attempt) {
    // Room for the marker within the longest name a directory takes.
    return "." + leaf.substr(0, 96) + kMarker + hostTag() + "~" + std::to_string(getpid()) + "~" +
           std::to_string(attempt) + kSuffix;
}

bool isAbandonedTemporary(const std::string& name) {
    const std::string suffix = kSuffix;
    if (name.size() < suffix.size() + 1 || name[0] != '.' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string body = name.substr(0, name.size() - suffix.size());
    size_t attemptAt = body.rfind('~');
    if (attemptAt == std::string::npos || !allDigits(body.substr(attemptAt + 1)))
        return false;
    size_t pidAt = body.rfind('~', attemptAt - 1);
    size_t marker = body.rfind(kMarker, pidAt);
    if (pidAt == std::string::npos || marker == std::string::npos || marker == 0)
        return false;
    const size_t hostAt = marker + std::string(kMarker).size();
    if (hostAt > pidAt || body.substr(hostAt, pidAt - hostAt) != hostTag())
        return false; // a process of another machine sharing the directory may still write it
    return processGone(body.substr(pidAt + 1, attemptAt - pidAt - 1));
}

void requireRegularOutput(const std::u16string& path) {
    resolveRegularOutput(path);
}

void requireSafeOutputs(const COutputRoles& roles) {
    std::vector<std::pair<std::u16string, CResolved>> outputs;
    for (const auto& path : roles.outputs)
        if (!path.empty())
            outputs.emplace_back(path, resolveRegularOutput(path));
    for (size_t i = 0; i < outputs.size(); ++i) {
        const auto& [path, resolved] = outputs[i];
        for (size_t j = 0; j < i; ++j)
            if (sameFile(resolved, outputs[j].second))
                TK_RAISE(u"Refusing to use one file in two roles: " + outputs[j].first + u" and " +
                         path);
        for (const auto& input : roles.inputs) {
            CResolved other;
            if (!input.empty() && resolveOutput(nativePath(input), other) &&
                sameFile(resolved, other))
                TK_RAISE(u"Refusing to use one file in two roles: " + input + u" and " + path);
        }
        for (const auto& tree : roles.trees)
            if (insideTree(resolved.directory, tree))
                TK_RAISE(u"Refusing to write a file inside a directory tree in use: " + path +
                         u" is inside " + tree);
    }
}

CReplacingFile::CReplacingFile(const std::u16string& path) : path_(path) {
    const CResolved resolved = resolveRegularOutput(path);
    target_ = resolved.leaf;
    directory_ = CDescriptor(openPath(resolved.directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory_)
        TK_RAISE(u"Unable to open file:" + path);
    removeAbandonedTemporaries(directory_.get(), resolved.leaf);
    // Never more open than the file it replaces, not even while it is being written.
    const mode_t mode = resolved.exists ? (resolved.st.st_mode & 0666) : 0666;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp_ = temporaryName(resolved.leaf, attempt);
        fd = ::openat(directory_.get(), temp_.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        temp_.clear();
        TK_RAISE(u"Unable to open file:" + path);
    }
    file_.adopt(fd);
    if (resolved.exists) {
        if (geteuid() == 0) // before the mode: a change of owner clears set-id bits
            (void)!fchown(fd, resolved.st.st_uid, resolved.st.st_gid);
        (void)!fchmod(fd, resolved.st.st_mode & 07777);
    }
}

CReplacingFile::~CReplacingFile() {
    if (!committed_ && !temp_.empty())
        unlinkat(directory_.get(), temp_.c_str(), 0);
}

void CReplacingFile::commit() {
    if (!file_.flush() || fsync(file_.descriptor()) != 0)
        TK_RAISE(u"Unable to write file:" + path_);
    if (renameat(directory_.get(), temp_.c_str(), directory_.get(), target_.c_str()) != 0)
        TK_RAISE(u"Unable to replace file:" + path_);
    committed_ = true;
    // The new name must survive a power cut as well as the new content.
    if (fsync(directory_.get()) != 0)
        TK_RAISE(u"Unable to write file:" + path_);
}

} // namespace ostmere
