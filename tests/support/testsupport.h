// Helpers shared by the engine tests: a recording sink and scratch directory trees.
#pragma once

#include "OstmereEngine.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

namespace fs = std::filesystem;

// Records every sink call as a line ("status:...", "detail:...", "range:N", "reset", "step")
// and can cancel at the n-th call of one kind.
class RecordingSink : public CProgressSink, public CTraceSink {
  public:
    explicit RecordingSink(uint32_t bufferSize = 4096) : buffer_(bufferSize) {}
    uint32_t getBufferSize() override { return static_cast<uint32_t>(buffer_.size()); }
    uint8_t* getBuffer() override { return buffer_.data(); }
    void setStatus(const std::u16string& text) override;
    void setDetail(const std::u16string& text) override;
    void showMessage(const std::u16string& text) override { record("message:" + narrow(text)); }
    void setProgressRange(uint32_t n) override { record("range:" + std::to_string(n)); }
    void resetProgress() override { record("reset"); }
    void stepProgress() override;
    void trace(const std::u16string& line) override { traces.push_back(narrow(line)); }

    // Throw COPCancel at the n-th (1-based) call of setStatus/setDetail/stepProgress.
    void cancelAt(const std::string& kind, int n) { cancelKind_ = kind, cancelAt_ = n; }
    std::vector<std::string> statuses() const;
    bool sawStatus(const std::string& text) const;

    std::vector<std::string> calls;
    std::vector<std::string> traces;

    static std::string narrow(const std::u16string& s) { return utf16ToUtf8(s); }

  private:
    void record(std::string line) { calls.push_back(std::move(line)); }
    void maybeCancel(const std::string& kind);
    std::vector<uint8_t> buffer_;
    std::string cancelKind_;
    int cancelAt_ = 0;
    int seen_ = 0;
};

// A fresh directory below the system temp folder, removed (writable again) on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& rel) const { return path_ / rel; }
    std::u16string u16() const { return utf8ToUtf16(path_.string()); }

  private:
    fs::path path_;
};

std::u16string u16(const fs::path& p);
// "/tmp/x/y" as the engine shows a normalised absolute directory: "\tmp\x\y".
std::u16string backslashed(std::u16string path);
std::string enginePath(const fs::path& p);
void writeFile(const fs::path& p, const std::string& content);
std::string readFile(const fs::path& p);
// A list of engine paths as UTF-8, in the same order.
std::vector<std::string> narrowed(const std::deque<std::u16string>& list);
// n bytes from a seeded generator: the same content for the same seed.
std::string randomBytes(size_t n, unsigned seed);
// SHA-1 of bytes as lowercase hex: a file's id.
std::string sha1Of(const std::string& bytes);
void makeReadOnly(const fs::path& p, bool readOnly = true);

// "name" -> content for files, trailing "/" for directories.
struct TreeEntry {
    std::string path;
    std::string content;
};
void makeTree(const fs::path& root, const std::vector<TreeEntry>& entries);
// The directory at the root of a target in which apply stages its work; scans skip it.
inline constexpr const char* kStagingArea = ".ostmere-staging";

// Every entry below root as "rel" (files "rel=content", dirs "rel/", "+ro" when read-only).
std::vector<std::string> describeTree(const fs::path& root);

} // namespace testing_support
