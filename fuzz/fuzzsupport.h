// What the fuzz targets share: a silent sink, a private scratch directory, and an independent
// judgement of whether a relative path from hostile input stays inside its directory.
#pragma once

#include "OstmereEngine.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzzing {

namespace fs = std::filesystem;

// A small work buffer makes stored files cross several chunks even in short inputs.
class QuietSink final : public CProgressSink {
  public:
    explicit QuietSink(uint32_t bufferSize = 512) : buffer_(bufferSize) {}
    uint32_t getBufferSize() override { return static_cast<uint32_t>(buffer_.size()); }
    uint8_t* getBuffer() override { return buffer_.data(); }
    void setStatus(const std::u16string& text) override { lastStatus = text; }
    void setDetail(const std::u16string&) override {}
    void showMessage(const std::u16string&) override {}
    void setProgressRange(uint32_t) override {}
    void resetProgress() override {}
    void stepProgress() override {}

    std::u16string lastStatus;

  private:
    std::vector<uint8_t> buffer_;
};

// A fresh directory below the temp folder for the life of the process.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    fs::path operator/(const std::string& name) const { return path_ / name; }
    // An empty directory of that name, whatever an earlier input left in it.
    fs::path freshDirectory(const std::string& name) const;

  private:
    fs::path path_;
};

std::u16string u16(const fs::path& path);
void writeInput(const fs::path& path, const uint8_t* data, size_t size);
// Removes everything below path, read-only entries included.
void removeTree(const fs::path& path);

// True when the path begins with "\" and no component, split at "\" or "/", is empty, "." or
// "..". Kept apart from the engine's own check so that the two can be compared.
bool staysInside(const std::u16string& relPath);
// Stops the run with a message when the engine accepts a path that would leave its directory.
void requireEngineRefuses(const std::u16string& relPath);

} // namespace fuzzing
