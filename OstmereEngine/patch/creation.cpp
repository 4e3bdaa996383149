#include "patch/creation.h"

#include "compare/comparison.h"
#include "core/fileReader.h"
#include "core/fileio.h"
#include "core/frame.h"
#include "core/tkerr.h"
#include "patch/metadatarecord.h"
#include "patch/patchformat.h"
#include "xml/xmlrep.h"

TK_MODULE("tkdiff");

namespace ostmere {

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
    for (auto& [path, position] : table) {
        sink->setDetail(u"Writing File: " + path);
        sink->stepProgress();
        position = out.writeFileRecord(sink, newerRoot, path);
    }
    const uint64_t tablePosition = out.tell();
    out.writeFileTable(table);
    if (info.hasMetadata)
        writeMetadataRecord(out, info);
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
