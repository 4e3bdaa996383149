#include "patch/creation.h"

#include "compare/comparison.h"
#include "core/byteprogress.h"
#include "core/fileReader.h"
#include "core/frame.h"
#include "core/outputpath.h"
#include "core/tkerr.h"
#include "patch/metadatarecord.h"
#include "patch/patchformat.h"
#include "snapshot/sha1.h"
#include "xml/xmlrep.h"

#include <optional>

TK_MODULE("tkdiff");

namespace ostmere {

namespace {

// Hashes a file's bytes as they go into the patch and compares them with the id of the scan, so
// that a patch never ships content other than the content its fingerprint describes.
void writeCheckedRecord(CProgressSink* sink, COutputFile& out, FileTable::value_type& entry,
                        const std::u16string& newerRoot, const TextMap& newerIds) {
    CSha1 sha;
    sha.start();
    entry.second =
        out.writeFileRecord(sink, newerRoot, entry.first,
                            [&](const uint8_t* bytes, size_t n) { sha.update(bytes, n); });
    uint8_t digest[20];
    sha.finish(digest);
    const auto id = newerIds.find(entry.first);
    if (id == newerIds.end() || id->second != digestToHex(digest))
        TK_RAISE(u"A file changed while the patch was being made: " + newerRoot + entry.first);
}

} // namespace

void writePatch(CProgressSink* sink, const CPatchInfo& info, const std::u16string& newerRoot,
                const TextMap& newerIds, const std::u16string& patchFile,
                const CSigningKey* signer) {
    sink->setStatus(u"Creating a patch file");
    FileTable table;
    for (const auto& path : info.NewFiles)
        table[path] = 0;
    for (const auto& path : info.ChangedFiles)
        table[path] = 0;
    // The earlier file at the path is replaced only by a complete new patch, never removed
    // first: a failed or cancelled run leaves it as it was.
    CReplacingFile target(patchFile);
    COutputFile& out = target.file();
    out.writeBuffer(kPatchMagic, kPatchMagicSize);
    const uint64_t headerPosition = out.tell();
    out.writeQword(0);
    out.writeDword(0);
    writePatchInfoBlock(out, info);
    sink->setProgressRange(static_cast<uint32_t>(table.size()));
    sink->resetProgress();
    announceFileBytes(sink, newerRoot, {&info.NewFiles, &info.ChangedFiles});
    for (auto& entry : table) {
        sink->setDetail(u"Writing File: " + entry.first);
        sink->stepProgress();
        writeCheckedRecord(sink, out, entry, newerRoot, newerIds);
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
    if (signer)
        appendSignature(sink, out, *signer);
    target.commit();
}

void createPatch(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older, CTimer* timer,
                 const std::u16string& patchFile, const std::u16string& reportFile,
                 CCreationHook* hook, const CSigningKey* signer) {
    CPatchInfo info = compareSnapshots(sink, newer, older);
    timer->stop();
    info.infoEntries[u"AnalysisTime"] = timer->getTime();
    if (!reportFile.empty())
        writeDiffReport(sink, reportFile, info);
    if (hook)
        hook->beforeStore();
    writePatch(sink, info, newer.root, newer.fileIds, patchFile, signer);
    timer->stop();
}

void diffCreatePatch(CProgressSink* sink, std::u16string olderDir, std::u16string newerDir,
                     const std::u16string& patchFile, const std::u16string& reportFile,
                     const std::u16string& filter, CCreationHook* hook, const CSigningKey* signer) {
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
    requireSafeOutputs({{patchFile, reportFile}, {}, {olderDir, newerDir}});
    CDirSnapshot newer = scanDirectory(sink, newerDir, filter);
    CDirSnapshot older = scanDirectory(sink, olderDir, filter);
    createPatch(sink, newer, older, &timer, patchFile, reportFile, hook, signer);
    sink->setStatus(u"Patch created ok.");
}

void createPatchVault(CProgressSink* sink, std::u16string newerDir, const std::u16string& patchFile,
                      const std::u16string& vaultFile, const std::u16string& reportFile,
                      bool updateVault, CCreationHook* hook, const CSigningKey* signer) {
    newerDir = normalizePath(newerDir);
    CTimer timer;
    timer.start();
    if (!dirExists(newerDir))
        TK_RAISE(u"Newer directory for patch creation does  not exists: " + newerDir);
    if (patchFile.empty())
        TK_RAISE(u"No patch file specified: ");
    if (vaultFile.empty())
        TK_RAISE(u"No vault file specified: ");
    // An updated vault is read first and rewritten last; either way no other output may be it.
    requireSafeOutputs({{patchFile, reportFile, updateVault ? vaultFile : u""},
                        {updateVault ? u"" : vaultFile},
                        {newerDir}});
    CDirSnapshot older = readVault(sink, vaultFile);
    CDirSnapshot newer = scanDirectory(sink, newerDir, older.filterText);
    createPatch(sink, newer, older, &timer, patchFile, reportFile, hook, signer);
    // Reached only when every stored file had the id the scan gave it, so the vault records
    // exactly what the patch ships.
    if (updateVault)
        writeVault(sink, vaultFile, CDirSnapshot(newer));
    sink->setStatus(u"Patch created ok.");
}

// The key is read before anything is scanned or written: a bad key file costs nothing.
std::optional<CSigningKey> signerOf(const CreationOptions& options) {
    if (options.signingKeyFile.empty())
        return std::nullopt;
    return readSigningKey(options.signingKeyFile);
}

void diffCreatePatchWith(CProgressSink* sink, std::u16string olderDir, std::u16string newerDir,
                         std::u16string patchFile, std::u16string reportFile, std::u16string filter,
                         const CreationOptions& options) {
    const auto signer = signerOf(options);
    diffCreatePatch(sink, std::move(olderDir), std::move(newerDir), patchFile, reportFile, filter,
                    nullptr, signer ? &*signer : nullptr);
}

void createPatchVaultWith(CProgressSink* sink, std::u16string newerDir, std::u16string patchFile,
                          std::u16string vaultFile, std::u16string reportFile, bool updateVault,
                          const CreationOptions& options) {
    const auto signer = signerOf(options);
    createPatchVault(sink, std::move(newerDir), patchFile, vaultFile, reportFile, updateVault,
                     nullptr, signer ? &*signer : nullptr);
}

} // namespace ostmere

using namespace ostmere;

void tkDiffCreatePatch(CProgressSink* sink, std::u16string olderDir, std::u16string newerDir,
                       std::u16string patchFile, std::u16string reportFile, std::u16string filter) {
    diffCreatePatch(sink, std::move(olderDir), std::move(newerDir), patchFile, reportFile, filter,
                    nullptr);
}

void tkCreatePatchVault(CProgressSink* sink, std::u16string newerDir, std::u16string patchFile,
                        std::u16string vaultFile, std::u16string reportFile, bool updateVault) {
    createPatchVault(sink, std::move(newerDir), patchFile, vaultFile, reportFile, updateVault,
                     nullptr);
}
