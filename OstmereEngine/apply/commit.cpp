#include "apply/commit.h"

#include "core/beneath.h"
#include "core/tkerr.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

TK_MODULE("fileio");

namespace ostmere {

void CApplyRun::beginPhase(const char16_t* status, size_t count) {
    sink_->setStatus(status);
    sink_->setProgressRange(static_cast<uint32_t>(count));
    resolver_.forget();
}

int CApplyRun::reach(const std::u16string& relPath, std::string& leaf) {
    refusedLink_ = false;
    const int dir = resolver_.parentOf(relPath, leaf);
    if (dir >= 0) {
        if (place_.hooks)
            place_.hooks->beforeAct(relPath);
        return dir;
    }
    const int failure = errno;
    // A path through a link inside the target is a failure of its item: skipped when
    // tolerant, fatal otherwise.
    if (linkBeneath(place_.root, resolver_.parentPath())) {
        if (!tolerant_)
            TK_RAISE(u"Refusing to follow a symbolic link inside the target directory: " +
                     place_.directory + relPath);
        refusedLink_ = true;
    }
    errno = failure;
    return -1;
}

int CApplyRun::writable(int dir, const std::function<int()>& op) {
    return withOwnerWrite(dir, resolver_.parentPath(), &place_.staging, op);
}

bool CApplyRun::removeOne(const std::u16string& entry) {
    std::string leaf;
    const int dir = reach(entry, leaf);
    if (dir >= 0 && writable(dir, [&] { return removeEntry(dir, leaf); }) == 0)
        return true;
    if (alreadyDone(!refusedLink_ && errno == ENOENT))
        return true;
    if (tolerant_)
        return false;
    TK_RAISE(u"Unable to remove item. " + place_.directory + entry);
}

void CApplyRun::removeFiles() {
    beginPhase(u"Removing Files.", patch_.UnlinkedFiles.size());
    for (const auto& entry : patch_.UnlinkedFiles) {
        sink_->stepProgress();
        sink_->setDetail(u"Removing: " + entry);
        if (removeOne(entry))
            applied_.UnlinkedFiles.push_back(entry);
    }
}

void CApplyRun::removeDirectories() {
    PathList order = patch_.UnlinkedDirectories;
    std::sort(order.begin(), order.end());
    beginPhase(u"Removing Directories.", order.size());
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        sink_->stepProgress();
        sink_->setDetail(u"Removing: " + *it);
        if (removeOne(*it))
            applied_.UnlinkedDirectories.push_back(*it);
    }
}

void CApplyRun::createDirectories() {
    beginPhase(u"Creating Directories.", patch_.NewDirs.size());
    for (const auto& entry : patch_.NewDirs) {
        sink_->stepProgress();
        sink_->setDetail(u"Creating: " + entry);
        std::string leaf;
        const int dir = reach(entry, leaf);
        if (dir >= 0 && (writable(dir, [&] { return mkdirat(dir, leaf.c_str(), 0777); }) == 0 ||
                         alreadyDone(errno == EEXIST && isDirectoryEntry(dir, leaf))))
            applied_.NewDirs.push_back(entry);
        else if (!tolerant_)
            TK_RAISE(u"Unable to create a directory. " + place_.directory + entry);
    }
}

namespace {

// A changed file keeps the owner and group of the file it replaces, as far as this user may
// give them (root always may); a new item is the applying user's.
void keepOwnership(int area, const std::string& staged, int dir, const std::string& leaf) {
    struct stat old, now;
    if (fstatat(dir, leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0 ||
        fstatat(area, staged.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        (old.st_uid == now.st_uid && old.st_gid == now.st_gid))
        return;
    // Refused for an ordinary user who does not own the old file's group: that user's own
    // ownership is then the best there is.
    (void)fchownat(area, staged.c_str(), old.st_uid, old.st_gid, AT_SYMLINK_NOFOLLOW);
}

} // namespace

void CApplyRun::restoreFiles(const FileTable& table) {
    beginPhase(u"Restoring files.", table.size());
    const int area = place_.staging.fd();
    size_t index = 0;
    for (const auto& [key, position] : table) {
        const std::string staged = CStagingArea::itemName(index++);
        sink_->stepProgress();
        sink_->setDetail(u"Extructing file: " + key);
        const std::u16string destination = place_.directory + u"\\" + key;
        if (auto* tracer = dynamic_cast<CTraceSink*>(sink_))
            tracer->trace(u"Would write" + destination);
        std::string leaf;
        const int dir = reach(key, leaf);
        if (dir < 0 && refusedLink_)
            continue;
        if (dir >= 0)
            keepOwnership(area, staged, dir, leaf);
        // The staged file replaces the destination in one step: never half-written.
        if (dir >= 0 &&
            (writable(dir, [&] { return renameat(area, staged.c_str(), dir, leaf.c_str()); }) ==
                 0 ||
             alreadyDone(errno == ENOENT && !entryExists(area, staged)))) {
            applied_.ChangedFiles.push_back(key);
            continue;
        }
        if (dir >= 0 && entryExists(dir, leaf))
            TK_RAISE(u"Unable to remove item. " + destination);
        raise(u"Unable to open file:" + destination, "fileReader.cpp", __LINE__);
    }
}

void CApplyRun::restoreAttributes() {
    beginPhase(u"Restoring FS attributes.", patch_.AttributeChanges.size());
    for (const auto& [key, word] : patch_.AttributeChanges) {
        sink_->stepProgress();
        sink_->setDetail(u"Restoring: " + place_.directory + u"\\" + key);
        std::string leaf;
        const int dir = reach(key, leaf);
        if (dir >= 0 && setEntryAttributes(dir, leaf, word))
            applied_.AttributeChanges[key] = word;
        else if (!tolerant_)
            TK_RAISE(u"Unable to set attributes on a file " + key);
    }
}

void CApplyRun::restoreMetadata(bool keepSetuid) {
    if (!patch_.hasMetadata)
        return;
    resolver_.forget();
    const uint32_t bits = keepSetuid ? kModeBits : kModeBits & ~kSetIdBits;
    for (auto it = patch_.metadata.rbegin(); it != patch_.metadata.rend(); ++it) {
        const auto& [key, meta] = *it;
        std::string leaf;
        const int dir = reach(key, leaf);
        const struct timespec times[2] = {
            {0, UTIME_OMIT},
            {static_cast<time_t>(meta.mtimeSec), static_cast<long>(meta.mtimeNsec)}};
        // A link has no bits of its own to set; its time is its own.
        const bool modeSet =
            dir >= 0 && (fchmodat(dir, leaf.c_str(), meta.mode & bits, AT_SYMLINK_NOFOLLOW) == 0 ||
                         errno == EOPNOTSUPP);
        if (modeSet && utimensat(dir, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        if (!tolerant_)
            TK_RAISE(u"Unable to set attributes on a file " + key);
    }
}

} // namespace ostmere
