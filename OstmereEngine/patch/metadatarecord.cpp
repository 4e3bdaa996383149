#include "patch/metadatarecord.h"

#include "core/tkerr.h"
#include "patch/patchformat.h"

TK_MODULE("patchReader");

namespace ostmere {

namespace {

[[noreturn]] void damaged(const std::u16string& what) {
    TK_RAISE(u"The patch's metadata record is damaged: " + what);
}

} // namespace

// Layout: tag, DWORD version, string digest, DWORD count, then count entries of string path,
// DWORD mode, QWORD seconds (two's complement), DWORD nanoseconds, in ascending path order.
void writeMetadataRecord(CFileReader& out, const CPatchInfo& info) {
    out.writeType(TYPE_METADATA);
    out.writeDword(kMetadataRecordVersion);
    out.writeString(info.metadataDigest);
    out.writeDword(static_cast<uint32_t>(info.metadata.size()));
    for (const auto& [path, meta] : info.metadata) {
        out.writeString(path);
        out.writeDword(meta.mode);
        out.writeQword(static_cast<uint64_t>(meta.mtimeSec));
        out.writeDword(meta.mtimeNsec);
    }
}

void readMetadataRecord(CFileReader& in, CPatchInfo& info) {
    in.readType(TYPE_METADATA);
    readMetadataRecordBody(in, info);
}

void readMetadataRecordBody(CFileReader& in, CPatchInfo& info) {
    if (in.readDword() != kMetadataRecordVersion)
        damaged(u"unknown version");
    info.metadataDigest = in.readString();
    if (!isLowerHex(info.metadataDigest, 40))
        damaged(u"digest");
    info.metadata.clear();
    for (uint32_t count = in.readDword(); count; --count) {
        std::u16string path = in.readString();
        requireSafeRelativePath(path);
        if (!info.metadata.empty() && !(info.metadata.rbegin()->first < path))
            damaged(u"paths out of order at " + path);
        CItemMeta meta;
        meta.mode = in.readDword();
        meta.mtimeSec = static_cast<int64_t>(in.readQword());
        meta.mtimeNsec = in.readDword();
        if (meta.mode & ~kModeBits || meta.mtimeNsec >= 1000000000u)
            damaged(path);
        info.metadata.emplace_hint(info.metadata.end(), std::move(path), meta);
    }
    info.hasMetadata = true;
}

} // namespace ostmere
