// Compact file records: frames coded with zstd, optionally against a slice of the older file.
#include "core/tkerr.h"
#include "patch/compactformat.h"
#include "patch/patchformat.h"
#include "snapshot/sha1.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

TK_MODULE("patchReader");

namespace ostmere {

namespace {

// A buffer that grows without clearing: frames fill every byte they use, and clearing up to
// 64 MiB per frame would cost more than coding it.
class CBytes {
  public:
    // Keeps the bytes held so far.
    void resize(size_t n) {
        if (n > capacity_) {
            std::unique_ptr<uint8_t[]> grown(new uint8_t[n]);
            if (size_)
                std::memcpy(grown.get(), bytes_.get(), size_);
            bytes_ = std::move(grown);
            capacity_ = n;
        }
        size_ = n;
    }
    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Gives back a buffer much larger than frames of the given size need.
    void trim(size_t frameSize) {
        if (capacity_ > 4 * frameSize)
            bytes_.reset(), capacity_ = size_ = 0;
    }

  private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t capacity_ = 0, size_ = 0;
};

} // namespace

CDescriptorReference::CDescriptorReference(int fd, std::u16string readFailure)
    : fd_(fd), readFailure_(std::move(readFailure)) {
    struct stat st {};
    if (fd_.valid() && fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode))
        size_ = static_cast<uint64_t>(st.st_size);
    else
        fd_.reset();
}

void CDescriptorReference::readAt(uint64_t offset, void* buffer, size_t n) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (size_t done = 0; done < n;) {
        const ssize_t got =
            pread(fd_.get(), bytes + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            TK_RAISE(readFailure_);
        done += static_cast<size_t>(got);
    }
}

struct CZstdCoder::Contexts {
    struct FreeC {
        void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
    };
    struct FreeD {
        void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
    };
    std::unique_ptr<ZSTD_CCtx, FreeC> c{ZSTD_createCCtx()};
    std::unique_ptr<ZSTD_DCtx, FreeD> d{ZSTD_createDCtx()};
    // Kept between frames so that a patch of many small files does not allocate per file.
    CBytes plain, coded, reference;
    uint64_t sliceStart = 0; // what reference holds of the current record's older file
    bool haveSlice = false;

    // Brings [start, start + size) of the older file into reference. Slices of consecutive
    // frames overlap by half, so the part the previous slice already holds is kept.
    void loadSlice(CReferenceSource& source, uint64_t start, size_t size) {
        size_t keep = 0;
        if (haveSlice && start >= sliceStart && start - sliceStart < reference.size() &&
            start + size >= sliceStart + reference.size()) {
            keep = static_cast<size_t>(sliceStart + reference.size() - start);
            std::memmove(reference.data(), reference.data() + (start - sliceStart), keep);
        }
        reference.resize(keep);
        reference.resize(size);
        haveSlice = false;
        source.readAt(start + keep, reference.data() + keep, size - keep);
        sliceStart = start;
        haveSlice = true;
    }
};

CZstdCoder::CZstdCoder() : contexts_(std::make_unique<Contexts>()) {
    if (!contexts_->c || !contexts_->d)
        TK_RAISE(u"Unable to set up the compressor.");
}

CZstdCoder::~CZstdCoder() = default;

namespace {

// Every value of a compact record goes through here, so that the record's digest covers
// exactly what the record says (the tags are checked by the typed reads themselves).
class CDigestedRecord {
  public:
    explicit CDigestedRecord(CFileReader& file) : file_(file) { sha_.start(); }

    void putDword(uint32_t v) { file_.writeDword(v), feed(v, 4); }
    void putQword(uint64_t v) { file_.writeQword(v), feed(v, 8); }
    void putString(const std::u16string& s) { file_.writeString(s), feedString(s); }
    void putBytes(const uint8_t* data, size_t n) {
        file_.writeBuffer(data, n), sha_.update(data, n);
    }

    uint32_t getDword() {
        const uint32_t v = file_.readDword();
        feed(v, 4);
        return v;
    }
    uint64_t getQword() {
        const uint64_t v = file_.readQword();
        feed(v, 8);
        return v;
    }
    std::u16string getString() {
        std::u16string s = file_.readString();
        feedString(s);
        return s;
    }
    void hashBytes(const uint8_t* data, size_t n) { sha_.update(data, n); }

    std::u16string digest() {
        uint8_t bytes[20];
        sha_.finish(bytes);
        return digestToHex(bytes);
    }

  private:
    void feed(uint64_t v, int n) {
        uint8_t bytes[8];
        for (int i = 0; i < n; ++i)
            bytes[i] = static_cast<uint8_t>(v >> (8 * i));
        sha_.update(bytes, static_cast<size_t>(n));
    }
    void feedString(const std::u16string& s) {
        feed(s.size(), 4);
        feedText(sha_, s);
    }

    CFileReader& file_;
    CSha1 sha_;
};

void readFully(CByteSource& source, uint8_t* buffer, size_t n, const std::u16string& path) {
    size_t done = 0;
    while (done < n) {
        const size_t got = source.read(buffer + done, n - done);
        if (got == 0)
            TK_RAISE(u"A file changed while the patch was being made: " + path);
        done += got;
    }
}

int windowLogFor(uint64_t bytes) {
    int log = 10;
    while (log < kMaxWindowLog && (uint64_t(1) << log) < bytes)
        ++log;
    return log;
}

void check(size_t result, const std::u16string& path) {
    if (ZSTD_isError(result))
        TK_RAISE(u"Unable to compress a file for the patch: " + path);
}

// Codes one frame; returns its coding, with the coded bytes in coded (empty when stored).
FrameCoding codeFrame(ZSTD_CCtx* c, const uint8_t* plain, size_t n, const uint8_t* reference,
                      size_t referenceSize, int level, CBytes& coded, const std::u16string& path) {
    check(ZSTD_CCtx_reset(c, ZSTD_reset_session_and_parameters), path);
    check(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level), path);
    check(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 0), path);
    if (referenceSize > 0) {
        // The window must reach from the frame back over the whole reference slice.
        check(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1), path);
        check(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, windowLogFor(referenceSize + n)), path);
        check(ZSTD_CCtx_refPrefix(c, reference, referenceSize), path);
    }
    coded.resize(ZSTD_compressBound(n));
    const size_t size = ZSTD_compress2(c, coded.data(), coded.size(), plain, n);
    check(size, path);
    if (size >= n) {
        coded.resize(0);
        return FrameCoding::stored;
    }
    coded.resize(size);
    return referenceSize > 0 ? FrameCoding::delta : FrameCoding::zstd;
}

// Hashes a reference in order as its slices are read; slices only move forward.
class CReferenceHash {
  public:
    CReferenceHash(CReferenceSource& source) : source_(source) { sha_.start(); }
    // Slice [offset, offset + n) is in memory at bytes.
    void cover(uint64_t offset, const uint8_t* bytes, size_t n) {
        if (offset + n <= hashed_)
            return;
        if (offset > hashed_)
            TK_RAISE(u"Unable to compress a file for the patch: a reference slice left a gap.");
        const uint64_t skip = hashed_ - offset;
        sha_.update(bytes + skip, static_cast<size_t>(n - skip));
        hashed_ = offset + n;
    }
    std::u16string finish(CBytes& scratch) {
        const uint64_t size = source_.size();
        while (hashed_ < size) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kMaxFrameSize, size - hashed_));
            scratch.resize(n);
            source_.readAt(hashed_, scratch.data(), n);
            cover(hashed_, scratch.data(), n);
        }
        return finishHex(sha_);
    }

  private:
    CReferenceSource& source_;
    CSha1 sha_;
    uint64_t hashed_ = 0;
};

} // namespace

uint64_t writeCompactRecord(CFileReader& out, CZstdCoder& coder, const CompactWrite& w,
                            std::u16string& contentId) {
    auto& z = coder.contexts();
    z.haveSlice = false; // another record, another older file
    const uint64_t frameSize = std::clamp<uint64_t>(w.options.frameSize, 1, kMaxFrameSize);
    const uint64_t margin = frameSize / 2;
    const uint64_t start = out.tell();
    out.writeType(TYPE_COMPACT_FILE);
    CDigestedRecord record(out);
    record.putString(w.path);
    record.putQword(w.size);
    // The content id is known only once the content has been read, so it follows the frames.
    record.putString(w.reference ? w.referenceId : u"");
    std::unique_ptr<CReferenceHash> referenceHash;
    if (w.reference)
        referenceHash = std::make_unique<CReferenceHash>(*w.reference);
    const uint64_t referenceSize = w.reference ? w.reference->size() : 0;
    CSha1 content;
    content.start();
    for (uint64_t done = 0; done < w.size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(frameSize, w.size - done));
        z.plain.resize(n);
        readFully(w.source, z.plain.data(), n, w.path);
        content.update(z.plain.data(), n);
        const uint64_t sliceStart = std::min(referenceSize, done > margin ? done - margin : 0);
        const uint64_t sliceEnd = std::min(referenceSize, done + n + margin);
        const size_t sliceSize = static_cast<size_t>(sliceEnd - sliceStart);
        if (sliceSize > 0) {
            z.loadSlice(*w.reference, sliceStart, sliceSize);
            referenceHash->cover(sliceStart, z.reference.data(), sliceSize);
        }
        const FrameCoding coding = codeFrame(z.c.get(), z.plain.data(), n, z.reference.data(),
                                             sliceSize, w.options.level, z.coded, w.path);
        const bool delta = coding == FrameCoding::delta;
        const CBytes& bytes = coding == FrameCoding::stored ? z.plain : z.coded;
        record.putDword(static_cast<uint32_t>(coding));
        record.putQword(n);
        record.putQword(delta ? sliceStart : 0);
        record.putQword(delta ? sliceSize : 0);
        record.putQword(bytes.size());
        record.putBytes(bytes.data(), bytes.size());
        done += n;
    }
    uint8_t extra = 0;
    if (w.source.read(&extra, 1) != 0)
        TK_RAISE(u"A file changed while the patch was being made: " + w.path);
    contentId = finishHex(content);
    // A delta made against anything but the content the reference id names could never be
    // applied; the older file must not have changed since it was scanned.
    z.haveSlice = false; // the reference buffer serves as scratch from here
    if (referenceHash && referenceHash->finish(z.reference) != w.referenceId)
        TK_RAISE(u"A file changed while the patch was being made: " + w.path);
    record.putString(contentId);
    out.writeString(record.digest());
    z.reference.trim(static_cast<size_t>(frameSize));
    return start;
}

std::u16string compactPatchDigest(CFileReader& file, CProgressSink* sink, uint64_t end) {
    uint8_t* buffer = sink->getBuffer();
    const uint64_t capacity = sink->getBufferSize();
    CSha1 sha;
    sha.start();
    file.seek(kCompactDigestStart);
    for (uint64_t at = kCompactDigestStart; at < end;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(capacity, end - at));
        file.readBuffer(buffer, n);
        sha.update(buffer, n);
        at += n;
    }
    return finishHex(sha);
}

void CCompactDigestWriter::start(CFileReader& out) {
    if (out.tell() != kCompactDigestStart)
        TK_RAISE(u"Unable write buffer to a patch. exp:" +
                 decimal(static_cast<int64_t>(kCompactDigestStart)) + u" actual:" +
                 decimal(static_cast<int64_t>(out.tell())));
    sha_.start();
    out.observeWrites([this](const uint8_t* bytes, size_t n) { sha_.update(bytes, n); });
}

void CCompactDigestWriter::finish(CFileReader& out) {
    out.observeWrites({});
    out.writeType(TYPE_COMPACT_DIGEST);
    out.writeString(finishHex(sha_));
}

void requireCompactDigest(CFileReader& in, CProgressSink* sink, const CPatchInfo& info) {
    if (!info.compact)
        return;
    if (info.compactDigest.empty() ||
        compactPatchDigest(in, sink, info.compactDigestAt) != info.compactDigest)
        TK_RAISE(u"The compact patch does not match its digest.");
}

namespace {

[[noreturn]] void damaged(const std::u16string& path) {
    TK_RAISE(u"The patch's compact file record is damaged: " + path);
}

struct FrameHead {
    FrameCoding coding;
    uint64_t size, sliceStart, sliceSize, codedSize;
};

FrameHead readFrameHead(CDigestedRecord& record, CFileReader& in, uint64_t left, uint64_t fileSize,
                        const std::u16string& path) {
    FrameHead h{};
    const uint32_t coding = record.getDword();
    if (coding > static_cast<uint32_t>(FrameCoding::delta))
        damaged(path);
    h.coding = static_cast<FrameCoding>(coding);
    h.size = record.getQword();
    h.sliceStart = record.getQword();
    h.sliceSize = record.getQword();
    h.codedSize = record.getQword();
    if (h.size == 0 || h.size > kMaxFrameSize || h.size > left)
        damaged(path);
    const bool delta = h.coding == FrameCoding::delta;
    if (delta ? (h.sliceSize == 0 || h.sliceSize > kMaxReferenceSlice)
              : (h.sliceStart != 0 || h.sliceSize != 0))
        damaged(path);
    if (h.coding == FrameCoding::stored ? h.codedSize != h.size
                                        : h.codedSize > ZSTD_compressBound(h.size))
        damaged(path);
    const uint64_t at = in.tell();
    if (at > fileSize || h.codedSize > fileSize - at)
        TK_RAISE(u"Unable to fully read a patch file content");
    return h;
}

// Decodes one zstd frame into plain (h.size bytes), the reference slice as its prefix.
void decodeFrame(ZSTD_DCtx* d, const FrameHead& h, const CBytes& coded, const uint8_t* reference,
                 CBytes& plain, const std::u16string& path) {
    if (ZSTD_findFrameCompressedSize(coded.data(), coded.size()) != coded.size() ||
        ZSTD_getFrameContentSize(coded.data(), coded.size()) != h.size)
        damaged(path);
    ZSTD_DCtx_reset(d, ZSTD_reset_session_and_parameters);
    ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, kMaxWindowLog);
    if (reference && ZSTD_isError(ZSTD_DCtx_refPrefix(d, reference, h.sliceSize)))
        damaged(path);
    plain.resize(h.size);
    const size_t n = ZSTD_decompressDCtx(d, plain.data(), plain.size(), coded.data(), coded.size());
    if (ZSTD_isError(n) || n != h.size)
        damaged(path);
}

} // namespace

CompactRecordInfo readCompactRecord(CFileReader& in, CZstdCoder& coder, const CompactRead& r) {
    auto& z = coder.contexts();
    z.haveSlice = false; // another record, another older file
    CompactRecordInfo info;
    in.readType(TYPE_COMPACT_FILE);
    CDigestedRecord record(in);
    info.path = record.getString();
    info.size = record.getQword();
    info.referenceId = record.getString();
    if (!info.referenceId.empty() && !isLowerHex(info.referenceId, 40))
        damaged(info.path);
    const bool reading = r.check != CompactCheck::layout;
    bool decodedAll = true;
    CReferenceSource* reference = nullptr;
    CSha1 content;
    content.start();
    for (uint64_t done = 0; done < info.size;) {
        const FrameHead h = readFrameHead(record, in, info.size - done, r.fileSize, info.path);
        const bool delta = h.coding == FrameCoding::delta;
        if (delta && info.referenceId.empty())
            damaged(info.path);
        info.usesReference |= delta;
        info.codedBytes += h.codedSize;
        done += h.size;
        if (!reading) {
            in.seek(in.tell() + h.codedSize);
            continue;
        }
        CBytes& coded = h.coding == FrameCoding::stored ? z.plain : z.coded;
        coded.resize(h.codedSize);
        in.readBuffer(coded.data(), coded.size());
        record.hashBytes(coded.data(), coded.size());
        if (delta && r.check != CompactCheck::decode) {
            decodedAll = false;
            continue;
        }
        if (delta) {
            if (!reference)
                reference = &r.reference(info.referenceId);
            if (h.sliceStart > reference->size() || h.sliceSize > reference->size() - h.sliceStart)
                damaged(info.path);
            z.loadSlice(*reference, h.sliceStart, static_cast<size_t>(h.sliceSize));
        }
        if (h.coding != FrameCoding::stored)
            decodeFrame(z.d.get(), h, z.coded, delta ? z.reference.data() : nullptr, z.plain,
                        info.path);
        content.update(z.plain.data(), z.plain.size());
        if (r.output)
            r.output(z.plain.data(), z.plain.size());
    }
    info.contentId = record.getString();
    if (!isLowerHex(info.contentId, 40))
        damaged(info.path);
    const std::u16string digest = in.readString();
    info.end = in.tell();
    if (!isLowerHex(digest, 40))
        damaged(info.path);
    if (!reading)
        return info;
    if (digest != record.digest())
        damaged(info.path);
    if (decodedAll && finishHex(content) != info.contentId)
        damaged(info.path);
    return info;
}

} // namespace ostmere
