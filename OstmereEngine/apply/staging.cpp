#include "apply/staging.h"

#include "core/itemcontent.h"
#include "core/platform.h"
#include "core/tkerr.h"
#include "patch/compactformat.h"
#include "patch/patchformat.h"
#include "snapshot/dirscan.h"
#include "snapshot/sha1.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

TK_MODULE("fileio");

namespace ostmere {

namespace {

constexpr const char* kJournal = "journal";
constexpr const char* kJournalTemp = "journal.tmp";
constexpr const char* kModes = "modes";
const std::string kAreaName = utf16ToUtf8(kStagingAreaName);

// The names this engine creates inside the area; nothing else is ever removed from it.
bool ownName(const std::string& name) {
    return name == kJournal || name == kJournalTemp || name == kModes ||
           (!name.empty() && name.size() < 20 &&
            std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

std::string hexText(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes)
        out += digits[c >> 4], out += digits[c & 15];
    return out;
}

std::string fromHex(const std::string& text) {
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

// The target's own file a delta refers to, opened beneath the target's root without following
// any link, so that a delta can never read anything outside the target.
int openTargetFile(int root, const std::u16string& key) {
    std::u16string parent;
    std::string leaf;
    splitLeaf(key, parent, leaf);
    const CDescriptor dir = openDirectoryBeneath(root, parent);
    return dir.valid() ? openat(dir.get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
}

} // namespace

CStagingArea::CStagingArea(int root, const std::u16string& directory)
    : root_(root), directory_(directory) {}

CStagingArea::~CStagingArea() {
    if (!owned_)
        return;
    try {
        remove();
    } catch (...) {
        // Leaving during another failure: the area holds no journal, so the next run clears it.
    }
}

std::u16string CStagingArea::areaPath() const {
    return directory_ + u"\\" + kStagingAreaName;
}

bool CStagingArea::openExisting() {
    area_.reset(openat(root_, kAreaName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (area_.valid())
        return true;
    if (errno != ENOENT)
        TK_RAISE(u"Unable to open the apply staging area: " + areaPath());
    return false;
}

std::string CStagingArea::readWhole(const char* name) {
    CDescriptor file(openat(area_.get(), name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    std::string text;
    if (!file.valid())
        return text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(file.get(), buffer, sizeof buffer)) > 0 && text.size() < (1u << 24))
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

bool CStagingArea::readJournal(ApplyJournal& journal) {
    if (!entryExists(area_.get(), kJournal))
        return false;
    if (!parseJournal(readWhole(kJournal), journal))
        TK_RAISE(u"The apply staging area holds an unreadable journal: " + areaPath());
    return true;
}

void CStagingArea::create() {
    const int made = withOwnerWrite(root_, u"", nullptr,
                                    [&] { return mkdirat(root_, kAreaName.c_str(), 0700); });
    if (made != 0 || !openExisting())
        TK_RAISE(u"Unable to create a directory. " + areaPath());
    owned_ = true;
}

void CStagingArea::writeWhole(int fd, const void* data, size_t size, const std::u16string& what) {
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            TK_RAISE(u"Unable to write a dest file:" + what);
        done += static_cast<size_t>(n);
    }
}

void CStagingArea::recordMode(const std::u16string& relDir, mode_t mode) {
    CDescriptor log(
        openat(area_.get(), kModes, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    std::ostringstream line;
    line << std::oct << mode << ' ' << hexText(utf16ToUtf8(relDir)) << '\n';
    if (!log.valid())
        TK_RAISE(u"Unable to open file:" + areaPath() + u"\\modes");
    const std::string text = line.str();
    writeWhole(log.get(), text.data(), text.size(), areaPath() + u"\\modes");
    fdatasync(log.get());
}

void CStagingArea::restoreModes() {
    std::istringstream in(readWhole(kModes));
    unsigned mode;
    std::string rel;
    while (in >> std::oct >> mode >> rel) {
        CDescriptor dir = openDirectoryBeneath(root_, utf8ToUtf16(fromHex(rel)));
        if (dir.valid())
            changeDirectoryMode(dir.get(), static_cast<mode_t>(mode & 07777));
    }
}

std::u16string CStagingArea::decodeCompact(CFileReader& patch, const CompactStaging& compact,
                                           const std::u16string& key, const ContentOutput& output) {
    const std::u16string destination = directory_ + u"\\" + key;
    std::unique_ptr<CDescriptorReference> reference;
    auto referenceOf = [&](const std::u16string& referenceId) -> CReferenceSource& {
        const CEntry* found = compact.target.find(key);
        if (!found || !found->id.present() || found->id.text() != referenceId)
            TK_RAISE(u"The patch codes a file against content the directory does not hold; the "
                     u"directory was not changed: " +
                     destination);
        reference = std::make_unique<CDescriptorReference>(
            openTargetFile(root_, key), u"Unable to read a file of the target: " + destination);
        if (!reference->valid())
            TK_RAISE(u"Unable to open file:" + destination);
        return *reference;
    };
    const int64_t fileSize = patch.size();
    // Decoding hashes every byte it gives to output and refuses content whose hash is not the
    // record's id; that id is therefore the hash of exactly the bytes staged.
    return readCompactRecord(patch, compact.coder,
                             {CompactCheck::decode,
                              fileSize < 0 ? 0 : static_cast<uint64_t>(fileSize), referenceOf,
                              output})
        .contentId;
}

std::u16string CStagingArea::stageLinkText(const std::string& target, size_t index,
                                           const std::u16string& key) {
    if (symlinkat(target.c_str(), area_.get(), itemName(index).c_str()) != 0)
        TK_RAISE_SYSTEM(u"Unable to open file:" + directory_ + u"\\" + key);
    CSha1 sha;
    sha.start();
    sha.update(reinterpret_cast<const uint8_t*>(target.data()), target.size());
    return finishHex(sha);
}

[[noreturn]] void CStagingArea::refuseLink(const std::u16string& key) {
    TK_RAISE(u"The patch holds a link whose target cannot be a link (damaged patch): " + key);
}

std::u16string CStagingArea::stageLink(CFileReader& patch, uint64_t size, size_t index,
                                       const std::u16string& key) {
    // A link's text is short and holds no NUL; anything else is no link a file system can hold.
    std::string target(size <= kMaxLinkTarget ? size : 0, '\0');
    if (target.empty() || patch.read(target.data(), target.size()) != target.size() ||
        target.find('\0') != std::string::npos)
        refuseLink(key);
    return stageLinkText(target, index, key);
}

std::u16string CStagingArea::stage(CFileReader& patch, CProgressSink* sink, uint64_t position,
                                   size_t index, const std::u16string& key, bool asLink,
                                   const CompactStaging* compact) {
    patch.seek(position);
    if (compact && asLink) {
        std::string target;
        decodeCompact(patch, *compact, key, [&](const uint8_t* bytes, size_t n) {
            if (n > kMaxLinkTarget - target.size())
                refuseLink(key);
            target.append(reinterpret_cast<const char*>(bytes), n);
        });
        if (target.empty() || target.find('\0') != std::string::npos)
            refuseLink(key);
        return stageLinkText(target, index, key);
    }
    uint64_t size = 0;
    if (!compact) {
        patch.readType(TYPE_FILE);
        patch.readString(); // the table's key, checked against the record when the patch was loaded
        size = patch.readQword();
        if (asLink)
            return stageLink(patch, size, index, key);
    }
    const std::u16string destination = directory_ + u"\\" + key;
    CDescriptor out(openat(area_.get(), itemName(index).c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out.valid())
        TK_RAISE(u"Unable to open file:" + destination);
    if (compact)
        return decodeCompact(patch, *compact, key, [&](const uint8_t* bytes, size_t n) {
            writeWhole(out.get(), bytes, n, destination);
        });
    CSha1 sha;
    sha.start();
    copyContent(patch, sink, size, out.get(), destination, sha);
    return finishHex(sha);
}

void CStagingArea::copyContent(CFileReader& patch, CProgressSink* sink, uint64_t size, int out,
                               const std::u16string& destination, CSha1& sha) {
    uint8_t* buffer = sink->getBuffer();
    const uint64_t capacity = sink->getBufferSize();
    if (size > capacity)
        patch.adviseSequential();
    for (uint64_t copied = 0; copied < size;) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(capacity, size - copied));
        size_t n = patch.read(buffer, chunk);
        if (n == 0)
            TK_RAISE(u"Unable to fully read a patch file content");
        sha.update(buffer, n);
        writeWhole(out, buffer, n, destination);
        copied += n;
    }
}

void CStagingArea::commitJournal(const ApplyJournal& journal) {
    // Every staged byte is on disk before anything names it as ready.
    if (syncfs(area_.get()) != 0)
        TK_RAISE(u"Unable to write a dest file:" + areaPath());
    CDescriptor temp(openat(area_.get(), kJournalTemp,
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!temp.valid())
        TK_RAISE(u"Unable to open file:" + areaPath() + u"\\journal");
    const std::string text = journalText(journal);
    writeWhole(temp.get(), text.data(), text.size(), areaPath() + u"\\journal");
    if (fdatasync(temp.get()) != 0 || renameat(area_.get(), kJournalTemp, area_.get(), kJournal) ||
        fsync(area_.get()) != 0)
        TK_RAISE(u"Unable to write a dest file:" + areaPath() + u"\\journal");
    owned_ = false;
}

void CStagingArea::remove() {
    if (!area_.valid())
        return;
    // The journal goes last but one: until then a rerun finishes this apply.
    std::vector<std::string> names;
    if (DIR* listing = fdopendir(fcntl(area_.get(), F_DUPFD_CLOEXEC, 0))) {
        while (dirent* entry = readdir(listing))
            if (ownName(entry->d_name) && std::string(entry->d_name) != kJournal)
                names.push_back(entry->d_name);
        closedir(listing);
    }
    for (const auto& name : names)
        unlinkat(area_.get(), name.c_str(), 0);
    unlinkat(area_.get(), kJournal, 0);
    area_.reset();
    owned_ = false;
    const int removed = withOwnerWrite(
        root_, u"", nullptr, [&] { return unlinkat(root_, kAreaName.c_str(), AT_REMOVEDIR); });
    if (removed != 0 && errno != ENOENT)
        TK_RAISE(u"Unable to remove item. " + areaPath());
    fsync(root_);
}

} // namespace ostmere
