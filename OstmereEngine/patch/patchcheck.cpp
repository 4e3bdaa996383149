// A patch read through without changing anything: its summary, and what applying it would do.
#include "patch/patchcheck.h"

#include "compare/prediction.h"
#include "core/byteprogress.h"
#include "core/frame.h"
#include "core/tkerr.h"
#include "patch/compactformat.h"
#include "patch/patchformat.h"
#include "snapshot/fingerprint.h"
#include "snapshot/sha1.h"

TK_MODULE("patchReader");

namespace ostmere {

namespace {

// Positions the file at the record's content and returns the content's size.
uint64_t openRecord(CFileReader& in, uint64_t position) {
    in.seek(position);
    in.readType(TYPE_FILE);
    in.readString();
    return in.readQword();
}

uint64_t storedBytesOf(CFileReader& in, const FileTable& table) {
    uint64_t total = 0;
    for (const auto& entry : table)
        total += openRecord(in, entry.second);
    return total;
}

// Reads every compact record at the given depth; fileIds, when given, receives the content ids
// (checked against the decoded content wherever it could be decoded without the target).
void readCompactRecords(CProgressSink* sink, CFileReader& in, const FileTable& table,
                        CompactCheck depth, PatchSummary& s, TextMap* fileIds) {
    CZstdCoder coder;
    const int64_t fileSize = in.size();
    CByteProgressSink* bytes = byteSinkOf(sink);
    for (const auto& [path, position] : table) {
        if (fileIds) {
            sink->setDetail(u"Checking: " + path);
            sink->stepProgress();
        }
        in.seek(position);
        const CompactRecordInfo record = readCompactRecord(
            in, coder, {depth, fileSize < 0 ? 0 : static_cast<uint64_t>(fileSize), {}, {}});
        s.storedBytes += record.codedBytes;
        s.originalBytes += record.size;
        if (fileIds) {
            (*fileIds)[path] = record.contentId;
            reportBytes(bytes, record.codedBytes);
        }
    }
}

std::u16string hashStoredContent(CProgressSink* sink, CFileReader& in, uint64_t position) {
    uint64_t size = openRecord(in, position);
    uint8_t* buffer = sink->getBuffer();
    const uint64_t capacity = sink->getBufferSize();
    CByteProgressSink* bytes = byteSinkOf(sink);
    CSha1 sha;
    sha.start();
    while (size > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(capacity, size));
        in.readBuffer(buffer, chunk);
        sha.update(buffer, chunk);
        size -= chunk;
        reportBytes(bytes, chunk);
    }
    return finishHex(sha);
}

// The ids of every stored content, read and hashed in table order.
TextMap hashStoredContents(CProgressSink* sink, CFileReader& in, const FileTable& table,
                           bool compact) {
    sink->setStatus(u"Checking stored contents.");
    sink->setProgressRange(static_cast<uint32_t>(table.size()));
    sink->resetProgress();
    TextMap ids;
    if (compact) {
        // A delta can be decoded only against the target; its digest covers its coded bytes
        // and the content id it must give, which apply checks once it has decoded it.
        PatchSummary unused;
        readCompactRecords(sink, in, table, CompactCheck::contents, unused, &ids);
        return ids;
    }
    announceStoredBytes(sink, in, table);
    for (const auto& [path, position] : table) {
        sink->setDetail(u"Checking: " + path);
        ids[path] = hashStoredContent(sink, in, position);
        sink->stepProgress();
    }
    return ids;
}

PatchSummary summarize(const CPatchInfo& info, CFileReader& in, const FileTable& table) {
    PatchSummary s;
    s.olderFingerprint = info.OlderTreeID;
    s.newerFingerprint = info.NewerTreeID;
    s.filter = info.filter;
    s.removedFiles = info.UnlinkedFiles.size();
    s.removedDirectories = info.UnlinkedDirectories.size();
    s.newDirectories = info.NewDirs.size();
    s.newFiles = info.NewFiles.size();
    s.changedFiles = info.ChangedFiles.size();
    s.attributeChanges = info.AttributeChanges.size();
    s.ignoredNew = info.ignoredNew.size();
    s.ignoredOld = info.ignoredOld.size();
    // The compact records are checked through, digests and decodable contents included, so
    // that a compact patch is known sound without the tree it applies to.
    s.compact = info.compact;
    if (info.compact)
        readCompactRecords(nullptr, in, table, CompactCheck::contents, s, nullptr);
    else
        s.storedBytes = s.originalBytes = storedBytesOf(in, table);
    const int64_t size = in.size();
    s.patchBytes = size < 0 ? 0 : static_cast<uint64_t>(size);
    return s;
}

// A patch whose structure and paths have been checked, open for reading its records.
struct CheckedPatch {
    explicit CheckedPatch(CProgressSink* sink, const std::u16string& patchFile)
        : info(loadPatchInfo(sink, patchFile)), in(patchFile) {
        requireSafePaths(info);
        in.seek(in.readHeader());
        table = in.readFileTable();
    }
    CPatchInfo info;
    CInputFile in;
    FileTable table;
};

} // namespace

void announceStoredBytes(CProgressSink* sink, CFileReader& in, const FileTable& table) {
    if (auto* bytes = byteSinkOf(sink); bytes && bytes->wantsStageBytes())
        bytes->stageBytes(storedBytesOf(in, table));
}

} // namespace ostmere

using namespace ostmere;

PatchSummary ostmere::describePatch(CProgressSink* sink, std::u16string patchFile) {
    CheckedPatch patch(sink, patchFile);
    return summarize(patch.info, patch.in, patch.table);
}

PatchCheck ostmere::checkPatch(CProgressSink* sink, std::u16string directory,
                               std::u16string patchFile) {
    directory = normalizePath(directory);
    sink->setStatus(u"Applying a file");
    CheckedPatch patch(sink, patchFile);
    if (!dirExists(directory))
        TK_RAISE(u"Directory for patch application does  not exists: " + directory);
    PatchCheck check;
    check.patch = summarize(patch.info, patch.in, patch.table);
    CDirSnapshot target = scanDirectory(sink, directory, patch.info.filter);
    check.targetFingerprint = calcFingerprint(target, sink);
    check.targetMatches = check.targetFingerprint == patch.info.OlderTreeID;
    const TextMap storedIds = hashStoredContents(sink, patch.in, patch.table, patch.info.compact);
    // The same prediction apply makes before it changes anything.
    if (check.targetMatches) {
        if (predictFingerprint(target, patch.info, storedIds, sink) != patch.info.NewerTreeID)
            TK_RAISE(u"The patch's stored contents do not make its newer tree: " + patchFile);
        check.contentsVerified = true;
    }
    check.removeFiles = patch.info.UnlinkedFiles;
    check.removeDirectories = patch.info.UnlinkedDirectories;
    check.createDirectories = patch.info.NewDirs;
    for (const auto& entry : patch.table)
        check.writeFiles.push_back(entry.first);
    check.setAttributes = {patch.info.AttributeChanges.begin(), patch.info.AttributeChanges.end()};
    sink->setStatus(u"Patch checked ok.");
    return check;
}
