#include "tkdiff.h"

#include "byteprogress.h"
#include "fileReader.h"
#include "fileio.h"
#include "fingerprint.h"
#include "frame.h"
#include "patchformat.h"
#include "platform.h"
#include "tkerr.h"
#include "xmlrep.h"

#include <algorithm>

namespace ostmere {

namespace {

bool isDirectoryWord(uint32_t word) {
    return word & FILE_ATTRIBUTE_DIRECTORY;
}

void detectRemovals(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older,
                    CPatchInfo& info) {
    sink->setStatus(u"Detecting deleted files...");
    sink->setProgressRange(static_cast<uint32_t>(older.directories.size() + older.files.size()));
    sink->resetProgress();
    // Both snapshots' lists are sorted by their fingerprints, so lookups walk along the maps.
    CSortedLookup newerFiles(newer.attributes);
    for (const auto& path : older.files) {
        uint32_t a = newerFiles[path];
        if (a == 0 || isDirectoryWord(a))
            info.UnlinkedFiles.push_back(path);
        sink->stepProgress();
    }
    CSortedLookup newerDirectories(newer.attributes);
    for (const auto& path : older.directories) {
        uint32_t a = newerDirectories[path];
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
    CSortedLookup newerAttributes(newer.attributes), olderAttributes(older.attributes);
    CSortedLookup newerIds(newer.fileIds), olderIds(older.fileIds);
    for (const auto& path : newer.files) {
        uint32_t n = newerAttributes[path], o = olderAttributes[path];
        bool stored = o == 0 || olderIds[path] != newerIds[path];
        if (stored)
            (o == 0 ? info.NewFiles : info.ChangedFiles).push_back(path);
        if (stored || o != n)
            info.AttributeChanges.insert_or_assign(info.AttributeChanges.end(), path, n);
        sink->stepProgress();
    }
    CSortedLookup newerDirectories(newer.attributes), olderDirectories(older.attributes);
    for (const auto& path : newer.directories) {
        uint32_t n = newerDirectories[path], o = olderDirectories[path];
        if (o == 0 || !isDirectoryWord(o)) {
            info.AttributeChanges[path] = n;
            info.NewDirs.push_back(path);
        }
        if (o != n)
            info.AttributeChanges[path] = n;
        sink->stepProgress();
    }
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
    detectRemovals(sink, newer, older, info);
    detectAdditions(sink, newer, older, info);
    std::sort(info.UnlinkedDirectories.begin(), info.UnlinkedDirectories.end());
    addCreationInfo(info.infoEntries);
    addSummaryEntries(info, newer, older);
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

void writePatch(CProgressSink* sink, const CPatchInfo& info, const std::u16string& newerRoot,
                const std::u16string& patchFile) {
    sink->setStatus(u"Creating a patch file");
    FileTable table;
    for (const auto& path : info.NewFiles)
        table[path] = 0;
    for (const auto& path : info.ChangedFiles)
        table[path] = 0;
    removeItem(true, patchFile);
    COutputFile out(patchFile);
    out.writeBuffer(kPatchMagic, kPatchMagicSize);
    const uint64_t headerPosition = out.tell();
    out.writeQword(0);
    out.writeDword(0);
    writePatchInfoBlock(out, info);
    sink->setProgressRange(static_cast<uint32_t>(table.size()));
    sink->resetProgress();
    announceFileBytes(sink, newerRoot, {&info.NewFiles, &info.ChangedFiles});
    for (auto& [path, position] : table) {
        sink->setDetail(u"Writing File: " + path);
        sink->stepProgress();
        position = out.writeFileRecord(sink, newerRoot, path);
    }
    const uint64_t tablePosition = out.tell();
    out.writeFileTable(table);
    // Everything must be in the file before the completion flag says so.
    flushPatch(out);
    out.seek(headerPosition);
    out.writeQword(tablePosition);
    out.writeDword(1);
    flushPatch(out);
}

void createPatch(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older, CTimer* timer,
                 const std::u16string& patchFile, const std::u16string& reportFile) {
    CPatchInfo info = compareSnapshots(sink, newer, older);
    timer->stop();
    info.infoEntries[u"AnalysisTime"] = timer->getTime();
    if (!reportFile.empty())
        writeDiffReport(sink, reportFile, info);
    writePatch(sink, info, newer.root, patchFile);
    timer->stop();
}

} // namespace ostmere

using namespace ostmere;

void tkDiffCreatePatch(CProgressSink* sink, std::u16string olderDir, std::u16string newerDir,
                       std::u16string patchFile, std::u16string reportFile, std::u16string filter) {
    olderDir = normalizePath(olderDir);
    newerDir = normalizePath(newerDir);
    CTimer timer;
    timer.start();
    if (!dirExists(newerDir))
        TK_RAISE(u"Newer directory for patch creation does  not exists: " + newerDir);
    if (!dirExists(olderDir))
        TK_RAISE(u"Older directory for patch creation does  not exists: " + olderDir);
    if (patchFile.empty())
        TK_RAISE(u"No patch file specified: ");
    CDirSnapshot newer = scanDirectory(sink, newerDir, filter);
    CDirSnapshot older = scanDirectory(sink, olderDir, filter);
    createPatch(sink, newer, older, &timer, patchFile, reportFile);
    sink->setStatus(u"Patch created ok.");
}

void tkCreatePatchVault(CProgressSink* sink, std::u16string newerDir, std::u16string patchFile,
                        std::u16string vaultFile, std::u16string reportFile, bool updateVault) {
    newerDir = normalizePath(newerDir);
    CTimer timer;
    timer.start();
    if (!dirExists(newerDir))
        TK_RAISE(u"Newer directory for patch creation does  not exists: " + newerDir);
    if (patchFile.empty())
        TK_RAISE(u"No patch file specified: ");
    if (vaultFile.empty())
        TK_RAISE(u"No vault file specified: ");
    CDirSnapshot older = readVault(sink, vaultFile);
    CDirSnapshot newer = scanDirectory(sink, newerDir, older.filterText);
    createPatch(sink, newer, older, &timer, patchFile, reportFile);
    if (updateVault)
        writeVault(sink, vaultFile, CDirSnapshot(newer));
    sink->setStatus(u"Patch created ok.");
}
