// The compact patch format: the base format's records and layout, its own magic, and one
// compact file record per stored file in place of the plain file record. A compact record
// holds the file's content in frames, each stored as is, zstd-compressed, or coded as a zstd
// delta against a slice of the older file; it names the content id of the file and, for
// deltas, of the older file, and ends with a digest over everything it holds, so that a
// patch can be checked completely without the tree it applies to.
#pragma once

#include "OstmereEngine.h"
#include "compare/patchinfo.h"
#include "core/descriptor.h"
#include "core/fileReader.h"
#include "snapshot/sha1.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ostmere {

constexpr char kCompactMagic[] = "OstmereCompact 01.00";
constexpr uint8_t TYPE_COMPACT_FILE = 0x1A;
// Ends a compact patch (before a signature): the SHA-1 of every byte after the header up to
// the record, so that every byte of the patch is checked before anything acts on it.
constexpr uint8_t TYPE_COMPACT_DIGEST = 0x1B;
constexpr uint64_t kCompactDigestStart = 34; // just after the header

enum class FrameCoding : uint32_t { stored = 0, zstd = 1, delta = 2 };

// Bounds every reader enforces before it allocates: a frame's original size, and a delta
// frame's reference slice (the frame's own range widened by half a frame on each side).
constexpr uint64_t kMaxFrameSize = 32ull << 20;
constexpr uint64_t kMaxReferenceSlice = 2 * kMaxFrameSize;
constexpr int kMaxWindowLog = 27;

// A stored file's bytes, in order, as creation reads them.
class CByteSource {
  public:
    // Fewer bytes than asked for only at the end of the content.
    virtual size_t read(void* buffer, size_t n) = 0;

  protected:
    ~CByteSource() = default;
};

// The older file a delta refers to, read in slices.
class CReferenceSource {
  public:
    virtual uint64_t size() = 0;
    // Reads exactly n bytes at offset or raises.
    virtual void readAt(uint64_t offset, void* buffer, size_t n) = 0;

  protected:
    ~CReferenceSource() = default;
};

// An older file read in slices through a descriptor its owner opened without following links.
// Invalid unless that descriptor is a regular file's; readAt raises readFailure on a short read.
class CDescriptorReference : public CReferenceSource {
  public:
    CDescriptorReference(int fd, std::u16string readFailure);
    bool valid() const { return fd_.valid(); }
    uint64_t size() override { return size_; }
    void readAt(uint64_t offset, void* buffer, size_t n) override;

  private:
    CDescriptor fd_;
    std::u16string readFailure_;
    uint64_t size_ = 0;
};

// The zstd contexts of one patch, kept for all its records.
class CZstdCoder {
  public:
    CZstdCoder();
    ~CZstdCoder();
    CZstdCoder(const CZstdCoder&) = delete;
    CZstdCoder& operator=(const CZstdCoder&) = delete;
    struct Contexts;
    Contexts& contexts() { return *contexts_; }

  private:
    std::unique_ptr<Contexts> contexts_;
};

struct CompactWrite {
    const std::u16string& path;
    uint64_t size; // bytes the source yields
    CByteSource& source;
    CReferenceSource* reference;       // null: no delta
    const std::u16string& referenceId; // the reference's content id as the scan found it
    const CreateOptions& options;
};

// Appends a compact record; returns the position of its tag and the content id of what the
// source yielded. The reference's bytes are hashed as they are read and must have referenceId.
uint64_t writeCompactRecord(CFileReader& out, CZstdCoder& coder, const CompactWrite& w,
                            std::u16string& contentId);

// Hashes the patch from kCompactDigestStart to end through the sink's work buffer.
std::u16string compactPatchDigest(CFileReader& file, CProgressSink* sink, uint64_t end);
// Hashes what a writer writes between start(), called just after the header, and
// finish(), which appends the digest record.
class CCompactDigestWriter {
  public:
    void start(CFileReader& out);
    void finish(CFileReader& out);

  private:
    CSha1 sha_;
};
// Raises unless a compact patch ends with the digest of its bytes (none for a base patch).
void requireCompactDigest(CFileReader& in, CProgressSink* sink, const CPatchInfo& info);

// How far a reader goes with a compact record.
enum class CompactCheck {
    layout,   // the record's structure and bounds; coded bytes are skipped
    contents, // also the digest, every frame decoded that can be without the reference, and
              // the content id when every frame was
    decode,   // everything decoded (deltas through the reference) into the output
};

struct CompactRecordInfo {
    std::u16string path, contentId, referenceId;
    uint64_t size = 0;       // original bytes
    uint64_t codedBytes = 0; // bytes of the frames' coded contents
    uint64_t end = 0;        // position just after the record
    bool usesReference = false;
};

struct CompactRead {
    CompactCheck check;
    uint64_t fileSize;
    // Called once, at the first delta frame, with the record's reference id (decode only).
    std::function<CReferenceSource&(const std::u16string& referenceId)> reference;
    // Receives the decoded content in order (decode only).
    std::function<void(const uint8_t*, size_t)> output;
};

// Reads the compact record at the reader's position (its tag included). Every size is bounded
// by the file and the fixed maxima above before anything is allocated; any damage raises.
CompactRecordInfo readCompactRecord(CFileReader& in, CZstdCoder& coder, const CompactRead& r);

} // namespace ostmere
