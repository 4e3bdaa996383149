#include "snapshot/dirscan.h"

#include "core/descriptor.h"
#include "core/names.h"
#include "core/pathopen.h"
#include "core/platform.h"
#include "core/tkerr.h"
#include "snapshot/fingerprint.h"
#include "snapshot/treeread.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

TK_MODULE("fileio");

namespace ostmere {

bool splitFirst(const std::u16string& text, char16_t delimiter, std::u16string& before,
                std::u16string& after) {
    size_t at = text.find(delimiter);
    if (at == std::u16string::npos) {
        before = text;
        after.clear();
        return false;
    }
    before = text.substr(0, at);
    after = text.substr(at + 1);
    return true;
}

std::vector<CFilterSegment> compilePattern(const std::u16string& pattern) {
    std::vector<CFilterSegment> segments;
    std::u16string literal;
    bool starSeen = false;
    for (char16_t c : pattern) {
        if (c != u'*') {
            literal += c;
            continue;
        }
        starSeen = true;
        if (!literal.empty())
            segments.push_back({CFilterSegment::beforeStar, std::move(literal)});
        literal.clear();
    }
    if (!literal.empty())
        segments.push_back(
            {starSeen ? CFilterSegment::afterStar : CFilterSegment::exact, std::move(literal)});
    return segments;
}

CIgnoreFilter compileFilter(const std::u16string& filterText) {
    std::vector<std::vector<CFilterSegment>> patterns;
    std::u16string rest = filterText, pattern, after;
    while (!rest.empty()) {
        splitFirst(rest, u';', pattern, after);
        patterns.push_back(compilePattern(pattern));
        rest = after;
    }
    return CIgnoreFilter(std::move(patterns));
}

namespace {

bool patternMatches(const std::vector<CFilterSegment>& segments, const std::u16string& path) {
    if (segments.empty())
        return false;
    size_t from = 0; // the remaining text R is path[from..]
    for (const auto& segment : segments) {
        size_t at = path.find(segment.literal, from);
        if (at == std::u16string::npos)
            return false;
        bool beforeEmpty = at == from;
        bool afterEmpty = at + segment.literal.size() == path.size();
        switch (segment.kind) {
        case CFilterSegment::beforeStar:
            if (afterEmpty)
                return false;
            break;
        case CFilterSegment::afterStar:
            if (beforeEmpty)
                return false;
            break;
        case CFilterSegment::exact:
            if (!beforeEmpty || !afterEmpty)
                return false;
            break;
        }
        from = at + segment.literal.size();
    }
    return true;
}

} // namespace

bool CIgnoreFilter::matches(const std::u16string& relPath) const {
    for (const auto& pattern : patterns_)
        if (patternMatches(pattern, relPath))
            return true;
    return false;
}

void CCountVisitor::onDirectory(CProgressSink* sink, const std::u16string&,
                                const std::u16string& relPath) {
    ++directories, ++total;
    sink->setDetail(u"Processing: " + relPath);
}

void CCountVisitor::onFile(CProgressSink*, const std::u16string&, const std::u16string&) {
    ++files, ++total;
}

void CCollectVisitor::onIgnored(CProgressSink*, const std::u16string&,
                                const std::u16string& relPath) {
    snapshot_.ignoredItems.push_back(relPath);
}

void CCollectVisitor::onSkipped(CProgressSink*, const std::u16string&,
                                const std::u16string& relPath, const char16_t* reason) {
    snapshot_.ignoredItems.push_back(relPath);
    snapshot_.skipReasons.emplace(relPath, reason);
}

void CCollectVisitor::onDirectory(CProgressSink* sink, const std::u16string&,
                                  const std::u16string& relPath) {
    snapshot_.directories.push_back(entryOf(relPath));
    sink->stepProgress();
    sink->setDetail(u"Processing: " + relPath);
}

void CCollectVisitor::onEntry(int directory, const std::string& name,
                              const std::u16string& relPath) {
    CItemMeta meta;
    const uint32_t word = getEntryStatus(directory, name.c_str(), meta);
    last_ = snapshot_.entryRef(relPath);
    CEntry& entry = last_->second;
    entry.setAttributes(word);
    if (word != INVALID_FILE_ATTRIBUTES)
        entry.setMeta(meta);
}

EntryRef CCollectVisitor::entryOf(const std::u16string& relPath) {
    return last_ && last_->first == relPath ? last_ : snapshot_.entryRef(relPath);
}

void CCollectVisitor::onFile(CProgressSink* sink, const std::u16string&,
                             const std::u16string& relPath) {
    snapshot_.files.push_back(entryOf(relPath));
    sink->stepProgress();
}

namespace {

struct ListedEntry {
    std::u16string name;
    std::string raw;
    EntryKind kind;
};

[[noreturn]] void cannotList(const std::u16string& directory) {
    TK_RAISE(u"Unable to list a directory: " + directory);
}

// One directory's entries in ordinal name order, so that walks (and the files made from them)
// do not depend on the file system's listing order. The listing is closed before any recursion.
// A directory that cannot be read is an error: skipping it would make its files look removed.
void listDirectory(int directory, const std::u16string& path, std::vector<ListedEntry>& entries) {
    CDirListing listing(directory);
    if (!listing.isOpen())
        cannotList(path);
    std::string raw;
    EntryKind kind;
    while (listing.next(raw, kind))
        entries.push_back({engineName(raw), raw, kind});
    if (listing.failed())
        cannotList(path);
    std::sort(entries.begin(), entries.end(),
              [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
}

bool identityOf(int directory, DirIdentity& id) {
    struct stat st;
    if (fstat(directory, &st) != 0)
        return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

// The walk holds each directory on its way open and reaches the next one relative to it, so
// the depth of a tree is not limited by the length of a path the system accepts in one call.
// Links are items of their own and never entered. ancestors: identities of the directories on
// the current walk path, so that a mount of one of them inside itself is not entered again.
void walk(CProgressSink* sink, const std::u16string& root, const std::u16string& rel,
          const CDescriptor& directory, CTreeVisitor& visitor, const CIgnoreFilter& filter,
          std::vector<DirIdentity>& ancestors) {
    DirIdentity self;
    if (!identityOf(directory.get(), self))
        cannotList(root + rel);
    for (const auto& id : ancestors)
        if (id == self)
            return;
    std::vector<ListedEntry> entries;
    listDirectory(directory.get(), root + rel, entries);
    ancestors.push_back(self);
    for (const ListedEntry& entry : entries) {
        if (rel.empty() && entry.name == kStagingAreaName)
            continue;
        std::u16string entryRel = rel + u"\\" + entry.name;
        if (filter.matches(entryRel)) {
            visitor.onIgnored(sink, root, entryRel);
        } else if (*skipReason(entry.kind)) {
            visitor.onSkipped(sink, root, entryRel, skipReason(entry.kind));
        } else if (entry.kind == EntryKind::directory) {
            visitor.onEntry(directory.get(), entry.raw, entryRel);
            visitor.onDirectory(sink, root, entryRel);
            CDescriptor child(
                ::openat(directory.get(), entry.raw.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!child)
                cannotList(root + entryRel);
            walk(sink, root, entryRel, child, visitor, filter, ancestors);
        } else {
            visitor.onEntry(directory.get(), entry.raw, entryRel);
            visitor.onFile(sink, root, entryRel);
        }
    }
    ancestors.pop_back();
}

} // namespace

void walkTree(CProgressSink* sink, const std::u16string& root, const std::u16string& relPath,
              CTreeVisitor& visitor, const CIgnoreFilter& filter) {
    CDescriptor directory(openPath(nativePath(root + relPath), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory)
        cannotList(root + relPath);
    std::vector<DirIdentity> ancestors;
    walk(sink, root, relPath, directory, visitor, filter, ancestors);
}

CDirSnapshot scanDirectory(CProgressSink* sink, const std::u16string& root,
                           const std::u16string& filterText) {
    CDirSnapshot snapshot;
    CCountVisitor counter;
    sink->setStatus(u"Counting all files");
    snapshot.filterText = filterText;
    const CIgnoreFilter filter = compileFilter(filterText);
    walkTree(sink, root, u"", counter, filter);

    snapshot.root = root;
    CCollectVisitor collector(snapshot);
    sink->setStatus(u"Collecting files...");
    sink->setProgressRange(counter.total);
    sink->resetProgress();
    walkTree(sink, root, u"", collector, filter);
    if (auto* notices = dynamic_cast<CNoticeSink*>(sink); notices && !snapshot.skipReasons.empty())
        notices->notice(skippedNotice(snapshot.skipReasons));

    sink->setStatus(u"Getting File attributes...");
    sink->setProgressRange(counter.total);
    sink->resetProgress();
    // The collecting walk read every item's status where it stood; this stage reports them.
    auto readAttributes = [&](const CPathRefs& paths) {
        for (auto it = paths.begin(); it != paths.end(); ++it) {
            if (it.entry().attributes == INVALID_FILE_ATTRIBUTES)
                TK_RAISE(u"Unable to read the attributes of: " + root + *it);
            sink->stepProgress();
        }
    };
    readAttributes(snapshot.directories);
    readAttributes(snapshot.files);

    calcFileIds(sink, root, snapshot);
    return snapshot;
}

std::u16string skippedNotice(const TextMap& skipReasons) {
    if (skipReasons.empty())
        return {};
    constexpr size_t kNamed = 3;
    std::u16string line = u"Skipped " + decimal(static_cast<int64_t>(skipReasons.size())) +
                          (skipReasons.size() == 1 ? u" item" : u" items") +
                          u" that cannot be carried: ";
    size_t named = 0;
    for (const auto& [path, reason] : skipReasons) {
        if (named == kNamed)
            break;
        line += (named++ ? u", " : u"") + path + u" (" + reason + u")";
    }
    if (skipReasons.size() > kNamed)
        line += u" and " + decimal(static_cast<int64_t>(skipReasons.size() - kNamed)) + u" more";
    return line;
}

std::u16string ctimeText(int64_t time) {
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t t = static_cast<time_t>(time);
    struct tm local;
    localtime_r(&t, &local);
    char text[64];
    snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d\n", days[local.tm_wday % 7],
             months[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
             local.tm_year + 1900);
    return utf8ToUtf16(text);
}

void addCreationInfo(TextMap& entries) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::u16string name;
    if (computerName(name))
        entries[u"ComputerName"] = name;
    if (userName(name))
        entries[u"UserName"] = name;
    entries[u"DateCreated"] = ctimeText(now);
}

} // namespace ostmere
