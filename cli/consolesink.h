// The command line's progress sink: a one-line display on a terminal, stage lines with
// --verbose, nothing with --quiet; cancels when SIGINT or SIGTERM arrived.
#pragma once

#include "OstmereEngine.h"

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

enum class Verbosity { quiet, normal, verbose };

class ConsoleSink : public CProgressSink, public CTraceSink {
  public:
    explicit ConsoleSink(Verbosity verbosity);
    ~ConsoleSink();

    uint32_t getBufferSize() override { return static_cast<uint32_t>(buffer_.size()); }
    uint8_t* getBuffer() override { return buffer_.data(); }
    void setStatus(const std::u16string& text) override;
    void setDetail(const std::u16string& text) override;
    void showMessage(const std::u16string& text) override;
    void setProgressRange(uint32_t steps) override;
    void resetProgress() override;
    void stepProgress() override;
    void trace(const std::u16string& line) override;

    const std::u16string& lastStatus() const { return status_; }
    // Clears the one-line display so that following output starts on a clean line.
    void endDisplay();

    static void installSignalHandlers();
    static bool cancelRequested();

  private:
    void checkCancel();
    void redraw(bool force);

    std::vector<uint8_t> buffer_;
    Verbosity verbosity_;
    bool live_; // stderr is a terminal and the display is wanted
    bool drawn_ = false;
    std::u16string status_, detail_;
    uint32_t range_ = 0, position_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};
