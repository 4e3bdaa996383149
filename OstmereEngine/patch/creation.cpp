#include "patch/creation.h"

#include "compare/comparison.h"
#include "core/byteprogress.h"
#include "core/fileReader.h"
#include "core/frame.h"
#include "core/itemcontent.h"
#include "core/outputpath.h"
#include "core/platform.h"
#include "core/tkerr.h"
#include "patch/compactformat.h"
#include "patch/metadatarecord.h"
#include "patch/patchformat.h"
#include "snapshot/sha1.h"
#include "xml/xmlrep.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

TK_MODULE("tkdiff");

namespace ostmere {

namespace {

// Hashes a file's bytes as they go into the patch and compares them with the id of the scan, so
// that a patch never ships content other than the content its fingerprint describes.
void writeCheckedRecord(CProgressSink* sink, COutputFile& out, FileTable::value_type& entry,
                        const CDirSnapshot& newer) {
    CSha1 sha;
    sha.start();
    entry.second =
        out.writeFileRecord(sink, newer.root, entry.first,
                            [&](const uint8_t* bytes, size_t n) { sha.update(bytes, n); });
    uint8_t digest[20];
    sha.finish(digest);
    const CEntry* scanned = newer.find(entry.first);
    if (!scanned || scanned->id != CFileId(digest))
        TK_RAISE(u"A file changed while the patch was being made: " + newer.root + entry.first);
}

class CContentBytes : public CByteSource {
  public:
    explicit CContentBytes(CItemContent& content) : content_(content) {}
    size_t read(void* buffer, size_t n) override { return content_.read(buffer, n); }

  private:
    CItemContent& content_;
};

// The compact counterpart of writeCheckedRecord: a changed file of a two-directory patch is
// coded against its older version.
void writeCompactEntry(CProgressSink* sink, COutputFile& out, CZstdCoder& coder,
                       FileTable::value_type& entry, const CDirSnapshot& newer,
                       const PatchStore& store) {
    const std::u16string& newerRoot = newer.root;
    const std::u16string& path = entry.first;
    CItemContent content;
    if (!content.open(newerRoot + path, u"Unable to ioen file:"))
        TK_RAISE(u"Unable read a source file:" + newerRoot + path);
    const uint64_t size = content.size();
    if (size > store.options.frameSize)
        content.adviseSequential();
    CContentBytes source(content);
    std::unique_ptr<CDescriptorReference> reference;
    std::u16string referenceId;
    if (store.older && !content.isLink()) {
        const CEntry* older = store.older->find(path);
        if (older && !older->id.text().empty()) {
            // Opened without following a link: a link's content is its own text, never worth
            // a delta, and an older item that is no regular file gives no reference.
            const std::u16string olderPath = store.older->root + path;
            reference = std::make_unique<CDescriptorReference>(
                ::open(nativePath(olderPath).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC),
                u"A file changed while the patch was being made: " + olderPath);
            referenceId = older->id.text();
            if (!reference->valid())
                reference.reset(), referenceId.clear();
        }
    }
    std::u16string id;
    entry.second = writeCompactRecord(
        out, coder, {path, size, source, reference.get(), referenceId, store.options}, id);
    const CEntry* expected = newer.find(path);
    if (!content.sizeUnchanged() || !expected || expected->id != CFileId::fromText(id))
        TK_RAISE(u"A file changed while the patch was being made: " + newerRoot + path);
    reportBytes(byteSinkOf(sink), static_cast<uint64_t>(size));
}

} // namespace

void writePatch(CProgressSink* sink, const CPatchInfo& info, const CDirSnapshot& newer,
                const std::u16string& patchFile, const PatchStore& store) {
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
    out.writeBuffer(store.options.compact ? kCompactMagic : kPatchMagic, kPatchMagicSize);
    const uint64_t headerPosition = out.tell();
    out.writeQword(0);
    out.writeDword(0);
    CCompactDigestWriter digest;
    if (store.options.compact)
        digest.start(out);
    writePatchInfoBlock(out, info);
    sink->setProgressRange(static_cast<uint32_t>(table.size()));
    sink->resetProgress();
    announceFileBytes(sink, newer.root, info.NewFiles, info.ChangedFiles);
    std::unique_ptr<CZstdCoder> coder;
    if (store.options.compact)
        coder = std::make_unique<CZstdCoder>();
    for (auto& entry : table) {
        sink->setDetail(u"Writing File: " + entry.first);
        sink->stepProgress();
        if (coder)
            writeCompactEntry(sink, out, *coder, entry, newer, store);
        else
            writeCheckedRecord(sink, out, entry, newer);
    }
    const uint64_t tablePosition = out.tell();
    out.writeFileTable(table);
    if (info.hasMetadata)
        writeMetadataRecord(out, info);
    if (store.options.compact)
        digest.finish(out);
    // Everything must be in the file before the completion flag says so.
    flushPatch(out);
    out.seek(headerPosition);
    out.writeQword(tablePosition);
    out.writeDword(1);
    flushPatch(out);
    if (store.signer)
        appendSignature(sink, out, *store.signer);
    target.commit();
}

void createPatch(CProgressSink* sink, CDirSnapshot& newer, CDirSnapshot& older, CTimer* timer,
                 const std::u16string& patchFile, const std::u16string& reportFile,
                 CCreationHook* hook, const PatchStore& store) {
    CPatchInfo info = compareSnapshots(sink, newer, older);
    timer->stop();
    info.infoEntries[u"AnalysisTime"] = timer->getTime();
    if (!reportFile.empty())
        writeDiffReport(sink, reportFile, info);
    if (hook)
        hook->beforeStore();
    writePatch(sink, info, newer, patchFile, store);
    timer->stop();
}

namespace {

// The key is read before anything is scanned or written: a bad key file costs nothing.
std::optional<CSigningKey> signerOf(const CreateOptions& options) {
    if (options.signingKeyFile.empty())
        return std::nullopt;
    return readSigningKey(options.signingKeyFile);
}

const CSigningKey* pointerTo(const std::optional<CSigningKey>& key) {
    return key ? &*key : nullptr;
}

} // namespace

void diffCreatePatch(CProgressSink* sink, std::u16string olderDir, std::u16string newerDir,
                     const std::u16string& patchFile, const std::u16string& reportFile,
                     const std::u16string& filter, CCreationHook* hook,
                     const CreateOptions& options) {
    const std::optional<CSigningKey> signer = signerOf(options);
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
    // Only here is the older tree at hand to code changed files against.
    createPatch(sink, newer, older, &timer, patchFile, reportFile, hook,
                {options, &older, pointerTo(signer)});
    sink->setStatus(u"Patch created ok.");
}

void createPatchVault(CProgressSink* sink, std::u16string newerDir, const std::u16string& patchFile,
                      const std::u16string& vaultFile, const std::u16string& reportFile,
                      bool updateVault, CCreationHook* hook, const CreateOptions& options) {
    const std::optional<CSigningKey> signer = signerOf(options);
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
    createPatch(sink, newer, older, &timer, patchFile, reportFile, hook,
                {options, nullptr, pointerTo(signer)});
    // Reached only when every stored file had the id the scan gave it, so the vault records
    // exactly what the patch ships.
    if (updateVault)
        writeVault(sink, vaultFile, CDirSnapshot(newer));
    sink->setStatus(u"Patch created ok.");
}

} // namespace ostmere

using namespace ostmere;

void tkDiffCreatePatch(CProgressSink* sink, std::u16string olderDir, std::u16string newerDir,
                       std::u16string patchFile, std::u16string reportFile, std::u16string filter) {
    diffCreatePatch(sink, std::move(olderDir), std::move(newerDir), patchFile, reportFile, filter,
                    nullptr, {});
}

void ostmere::createPatchFromDirectories(CProgressSink* sink, std::u16string olderDir,
                                         std::u16string newerDir, std::u16string patchFile,
                                         std::u16string reportFile, std::u16string filter,
                                         const CreateOptions& options) {
    diffCreatePatch(sink, std::move(olderDir), std::move(newerDir), patchFile, reportFile, filter,
                    nullptr, options);
}

void ostmere::createPatchFromVault(CProgressSink* sink, std::u16string newerDir,
                                   std::u16string patchFile, std::u16string vaultFile,
                                   std::u16string reportFile, bool updateVault,
                                   const CreateOptions& options) {
    createPatchVault(sink, std::move(newerDir), patchFile, vaultFile, reportFile, updateVault,
                     nullptr, options);
}

void tkCreatePatchVault(CProgressSink* sink, std::u16string newerDir, std::u16string patchFile,
                        std::u16string vaultFile, std::u16string reportFile, bool updateVault) {
    createPatchVault(sink, std::move(newerDir), patchFile, vaultFile, reportFile, updateVault,
                     nullptr, {});
}
