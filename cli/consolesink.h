// The command line's progress sink: one line on a terminal with files, bytes, rate and time
// left; stage lines with --verbose; nothing with --quiet. Cancels when SIGINT or SIGTERM came.
#pragma once

#include "OstmereEngine.h"

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

enum class Verbosity { quiet, normal, verbose };

class ConsoleSink : public CProgressSink,
                    public CTraceSink,
                    public CNoticeSink,
                    public ostmere::COptionsSink {
  public:
    explicit ConsoleSink(Verbosity verbosity);
    virtual ~ConsoleSink();
    // Also takes the content bytes as they pass: they are shown, counted for --json, and let a
    // cancel stop inside a large file. Stage totals are asked for only while a line is drawn,
    // since announcing one costs the engine a look at every file first.
    static std::unique_ptr<ConsoleSink> make(Verbosity verbosity);
    bool drawsLine() const { return live_; }

    uint32_t getBufferSize() override { return static_cast<uint32_t>(buffer_.size()); }
    uint8_t* getBuffer() override { return buffer_.data(); }
    void setStatus(const std::u16string& text) override;
    void setDetail(const std::u16string& text) override;
    void showMessage(const std::u16string& text) override;
    void setProgressRange(uint32_t steps) override;
    void resetProgress() override;
    void stepProgress() override;
    void trace(const std::u16string& line) override;
    ostmere::EngineOptions engineOptions() override { return options_; }
    void setHashJobs(unsigned jobs) { options_.hashJobs = jobs; }
    // One line on stderr, also without --verbose; none with --quiet.
    void notice(const std::u16string& line) override;
    void stageBytes(uint64_t total);
    void bytesDone(uint64_t count);

    const std::u16string& lastStatus() const { return status_; }
    // Content bytes that passed during the whole run.
    uint64_t totalBytes() const { return allBytes_; }
    // Clears the one-line display so that following output starts on a clean line.
    void endDisplay();

    static void installSignalHandlers();

  private:
    using Clock = std::chrono::steady_clock;
    void checkCancel();
    void redraw(bool force);
    std::string progressLine() const;
    void closeStage();

    std::vector<uint8_t> buffer_;
    ostmere::EngineOptions options_;
    Verbosity verbosity_;
    bool live_; // stderr is a terminal that can redraw a line, and the display is wanted
    bool drawn_ = false;
    std::u16string status_, detail_;
    uint32_t range_ = 0, position_ = 0;
    uint64_t stageTotal_ = 0, stageDone_ = 0, allBytes_ = 0;
    bool stageTotalKnown_ = false;
    Clock::time_point stageStart_ = Clock::now(), lastDraw_{};
};

// Display width of UTF-8 text on a terminal (wide characters count two, controls one as '?').
size_t displayWidth(const std::string& text);
// The longest prefix of text no wider than width, with controls replaced by '?'.
std::string fitWidth(const std::string& text, size_t width);
// "1.5 MiB"
std::string byteText(uint64_t bytes);
