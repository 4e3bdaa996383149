// Carries the progress display from the worker to the window. The engine calls the sink for
// nearly every item, far more often than a screen can show; the worker only records the
// latest state here and the window picks it up at most once per frame.
#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

class ProgressRelay {
  public:
    static constexpr std::chrono::milliseconds frame{33};

    struct View {
        std::optional<QString> status; // set when the status changed since the last view
        std::optional<QString> detail;
        int maximum = 1;
        int position = 0;
    };

    // Worker side: record the newest state.
    void setStatus(const std::u16string& text);
    void setDetail(const std::u16string& text);
    void setRange(uint32_t steps);
    void reset();
    void step();
    // Worker side: true at most once per frame, when the window should catch up now.
    bool frameDue();

    // Window side: the state recorded since the last call, or nothing when nothing changed.
    std::optional<View> take();
    // Forgets everything recorded: a new run starts from an empty display.
    void restart();

  private:
    std::mutex lock_;
    std::u16string status_;
    std::u16string detail_;
    uint32_t maximum_ = 1;
    uint32_t position_ = 0;
    bool statusChanged_ = false;
    bool detailChanged_ = false;
    bool changed_ = false;
    std::chrono::steady_clock::time_point lastFrame_{};
};
