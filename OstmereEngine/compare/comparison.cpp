#include "compare/comparison.h"

#include "compare/metadiff.h"
#include "core/platform.h"
#include "core/tkerr.h"
#include "snapshot/fingerprint.h"

#include <algorithm>

TK_MODULE("tkdiff");

namespace ostmere {

namespace {

bool isDirectoryWord(uint32_t word) {
    return word & FILE_ATTRIBUTE_DIRECTORY;
}

uint32_t attributesIn(const CEntry* entry) {
    return entry ? entry->attributes : 0;
}

void detectRemovals(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older,
                    CPatchInfo& info) {
    sink->setStatus(u"Detecting deleted files...");
    sink->setProgressRange(static_cast<uint32_t>(older.directories.size() + older.files.size()));
    sink->resetProgress();
    // Both snapshots' lists are sorted by their fingerprints, so lookups walk along the maps.
    CSortedLookup newerFiles(newer.entries);
    for (const auto& path : older.files) {
        uint32_t a = attributesIn(newerFiles(path));
        if (a == 0 || isDirectoryWord(a))
            info.UnlinkedFiles.push_back(path);
        sink->stepProgress();
    }
    CSortedLookup newerDirectories(newer.entries);
    for (const auto& path : older.directories) {
        uint32_t a = attributesIn(newerDirectories(path));
        if (a == 0 || !isDirectoryWord(a))
            info.UnlinkedDirectories.push_back(path);
        sink->stepProgress();
    }
}

void detectAdditions(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older,
                     CPatchInfo& info) {
    sink->setStatus(u"Comparing files...");
    sink->setProgressRange(static_cast<uint32_t>(newer.files.size() + newer.directories.size()));
    sink->resetProgress();
    const CFileId none;
    CSortedLookup olderFiles(older.entries);
    for (auto it = newer.files.begin(); it != newer.files.end(); ++it) {
        const std::u16string& path = *it;
        const CEntry& now = it.entry();
        const CEntry* before = olderFiles(path);
        uint32_t n = now.attributes, o = attributesIn(before);
        // A file that became a link to its own former content (or the reverse) is stored too:
        // the same id does not make it the same item.
        bool stored =
            o == 0 || (before ? before->id : none) != now.id || isLinkWord(o) != isLinkWord(n);
        if (stored)
            (o == 0 ? info.NewFiles : info.ChangedFiles).push_back(path);
        if (stored || o != n)
            info.AttributeChanges.insert_or_assign(info.AttributeChanges.end(), path, n);
        sink->stepProgress();
    }
    // Directories' words go in after the files' in one merge: placed one by one among the
    // files' they would each move the entries after them.
    AttributeMap directoryChanges;
    CSortedLookup olderDirectories(older.entries);
    for (auto it = newer.directories.begin(); it != newer.directories.end(); ++it) {
        const std::u16string& path = *it;
        uint32_t n = it.entry().attributes, o = attributesIn(olderDirectories(path));
        if (o == 0 || !isDirectoryWord(o))
            info.NewDirs.push_back(path);
        if (o == 0 || !isDirectoryWord(o) || o != n)
            directoryChanges[path] = n;
        sink->stepProgress();
    }
    info.AttributeChanges.assignAll(directoryChanges);
}

std::u16string count(size_t n) {
    return decimal(static_cast<int64_t>(n));
}

} // namespace

CPatchInfo compareSnapshots(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older) {
    CPatchInfo info;
    info.NewerTreeID = calcFingerprint(newer, sink);
    info.OlderTreeID = calcFingerprint(older, sink);
    if (newer.filterText != older.filterText)
        TK_RAISE(u"Ignored filters do not match: new:" + newer.filterText + u" old:" +
                 older.filterText);
    info.filter = older.filterText;
    info.ignoredNew = newer.ignoredItems;
    info.ignoredOld = older.ignoredItems;
    info.skipReasons = older.skipReasons;
    for (const auto& [path, reason] : newer.skipReasons)
        info.skipReasons.insert_or_assign(path, reason);
    detectRemovals(sink, newer, older, info);
    detectAdditions(sink, newer, older, info);
    std::sort(info.UnlinkedDirectories.begin(), info.UnlinkedDirectories.end());
    addCreationInfo(info.infoEntries);
    addSummaryEntries(info, newer, older);
    addMetadataChanges(info, newer, older);
    return info;
}

void addSummaryEntries(CPatchInfo& info, const CDirSnapshot& newer, const CDirSnapshot& older) {
    auto& e = info.infoEntries;
    e[u"AttributeChanges"] = count(info.AttributeChanges.size());
    e[u"UnlinkedFiles"] = count(info.UnlinkedFiles.size());
    e[u"UnlinkedDirectories"] = count(info.UnlinkedDirectories.size());
    e[u"NewFiles"] = count(info.NewFiles.size());
    e[u"NewDirs"] = count(info.NewDirs.size());
    e[u"ChangedFiles"] = count(info.ChangedFiles.size());
    e[u"ignoredNew"] = count(info.ignoredNew.size());
    e[u"ignoredOld"] = count(info.ignoredOld.size());
    e[u"NewerDir"] = newer.root;
    e[u"OlderDir"] = older.root;
    e[u"OlderTreeID"] = info.OlderTreeID;
    e[u"NewerTreeID"] = info.NewerTreeID;
}

} // namespace ostmere
