// A sink for the benchmark programs: shows nothing, lends a work buffer of the given size.
#pragma once

#include "OstmereEngine.h"

#include <vector>

class QuietSink : public CProgressSink {
  public:
    explicit QuietSink(size_t bufferSize) : buffer_(bufferSize) {}
    uint32_t getBufferSize() override { return static_cast<uint32_t>(buffer_.size()); }
    uint8_t* getBuffer() override { return buffer_.data(); }
    void setStatus(const std::u16string&) override {}
    void setDetail(const std::u16string&) override {}
    void showMessage(const std::u16string&) override {}
    void setProgressRange(uint32_t) override {}
    void resetProgress() override {}
    void stepProgress() override {}

  private:
    std::vector<uint8_t> buffer_;
};
