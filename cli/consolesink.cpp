#include "consolesink.h"

#include "messages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t cancelFlag = 0;

void onSignal(int) {
    cancelFlag = 1;
}

size_t terminalWidth() {
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 10)
        return ws.ws_col;
    return 80;
}

bool canRedraw() {
    const char* term = std::getenv("TERM");
    return isatty(STDERR_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
}

// Decodes one UTF-8 character; an invalid byte comes back as itself with length 1.
wchar_t decode(const std::string& text, size_t at, size_t& length) {
    std::mbstate_t state{};
    wchar_t wide = 0;
    const size_t n = std::mbrtowc(&wide, text.data() + at, text.size() - at, &state);
    if (n == 0 || n > text.size() - at) {
        length = 1;
        return L'?';
    }
    length = n;
    return wide;
}

std::string durationText(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

} // namespace

size_t displayWidth(const std::string& text) {
    size_t width = 0, length = 0;
    for (size_t at = 0; at < text.size(); at += length) {
        const int w = wcwidth(decode(text, at, length));
        width += w < 0 ? 1 : static_cast<size_t>(w);
    }
    return width;
}

std::string fitWidth(const std::string& text, size_t width) {
    std::string out;
    size_t used = 0, length = 0;
    for (size_t at = 0; at < text.size(); at += length) {
        const int w = wcwidth(decode(text, at, length));
        const size_t cells = w < 0 ? 1 : static_cast<size_t>(w);
        if (used + cells > width)
            break;
        used += cells;
        out += w < 0 ? std::string("?") : text.substr(at, length);
    }
    return out;
}

std::string byteText(uint64_t bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
}

namespace {

class ByteConsoleSink final : public ConsoleSink, public CByteProgressSink {
  public:
    using ConsoleSink::ConsoleSink;
    void stageBytes(uint64_t total) override { ConsoleSink::stageBytes(total); }
    void bytesDone(uint64_t count) override { ConsoleSink::bytesDone(count); }
    bool wantsStageBytes() override { return drawsLine(); }
};

} // namespace

std::unique_ptr<ConsoleSink> ConsoleSink::make(Verbosity verbosity) {
    return std::make_unique<ByteConsoleSink>(verbosity);
}

ConsoleSink::ConsoleSink(Verbosity verbosity)
    : buffer_(2 * 1024 * 1024), verbosity_(verbosity),
      live_(verbosity != Verbosity::quiet && canRedraw()) {}

ConsoleSink::~ConsoleSink() {
    endDisplay();
}

void ConsoleSink::installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void ConsoleSink::checkCancel() {
    if (cancelFlag)
        throw COPCancel();
}

void ConsoleSink::closeStage() {
    // On a pipe a verbose run still says how much each byte-moving stage did.
    if (verbosity_ == Verbosity::verbose && stageDone_ > 0 && !live_) {
        const double seconds = std::chrono::duration<double>(Clock::now() - stageStart_).count();
        std::fprintf(stderr, "  %s in %.1f s\n", byteText(stageDone_).c_str(), seconds);
    }
    stageTotal_ = stageDone_ = 0;
    stageTotalKnown_ = false;
    range_ = position_ = 0;
    stageStart_ = Clock::now();
}

void ConsoleSink::setStatus(const std::u16string& text) {
    closeStage();
    status_ = text;
    detail_.clear();
    if (verbosity_ == Verbosity::verbose) {
        endDisplay();
        std::fprintf(stderr, "%s\n", utf16ToUtf8(text).c_str());
    }
    redraw(true);
    checkCancel();
}

void ConsoleSink::setDetail(const std::u16string& text) {
    detail_ = text;
    redraw(false);
    checkCancel();
}

void ConsoleSink::showMessage(const std::u16string& text) {
    endDisplay();
    std::fprintf(stderr, "ostmere: %s\n", nativeText(text).c_str());
}

void ConsoleSink::setProgressRange(uint32_t steps) {
    range_ = steps;
    position_ = 0;
}

void ConsoleSink::resetProgress() {
    position_ = 0;
}

void ConsoleSink::stepProgress() {
    ++position_;
    redraw(false);
    checkCancel();
}

void ConsoleSink::notice(const std::u16string& line) {
    if (verbosity_ == Verbosity::quiet)
        return;
    endDisplay();
    std::fprintf(stderr, "ostmere: %s\n", nativeText(line).c_str());
}

void ConsoleSink::trace(const std::u16string& line) {
    if (verbosity_ != Verbosity::verbose)
        return;
    // The engine's trace names each file as it is written (its text says "Would write").
    const std::u16string prefix = u"Would write";
    std::string text;
    if (line.compare(0, prefix.size(), prefix) == 0)
        text.append("writing ").append(nativeText(line.substr(prefix.size())));
    else
        text = nativeText(line);
    endDisplay();
    std::fprintf(stderr, "%s\n", text.c_str());
}

void ConsoleSink::stageBytes(uint64_t total) {
    stageTotal_ = total;
    stageTotalKnown_ = true;
}

void ConsoleSink::bytesDone(uint64_t count) {
    stageDone_ += count;
    allBytes_ += count;
    redraw(false);
    // A single large file must not hold off a cancel until it is done.
    checkCancel();
}

std::string ConsoleSink::progressLine() const {
    // Appends rather than "text" + string: GCC 12 warns falsely on the latter (-Wrestrict).
    std::string line = utf16ToUtf8(status_);
    if (range_)
        line.append(" ")
            .append(std::to_string(position_))
            .append("/")
            .append(std::to_string(range_));
    if (stageDone_ > 0 || stageTotal_ > 0) {
        const double seconds = std::chrono::duration<double>(Clock::now() - stageStart_).count();
        line.append("  ").append(byteText(stageDone_));
        if (stageTotalKnown_)
            line.append("/").append(byteText(stageTotal_));
        if (seconds >= 0.5) {
            const double rate = static_cast<double>(stageDone_) / seconds;
            line.append("  ").append(byteText(static_cast<uint64_t>(rate))).append("/s");
            if (stageTotalKnown_ && rate > 0 && stageTotal_ >= stageDone_)
                line.append("  ETA ").append(
                    durationText(static_cast<double>(stageTotal_ - stageDone_) / rate));
        }
    }
    if (!detail_.empty())
        line.append("  ").append(nativeText(detail_));
    return line;
}

void ConsoleSink::redraw(bool force) {
    if (!live_)
        return;
    auto now = Clock::now();
    // Drawing every step of a large tree would cost more than the work itself.
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    std::fprintf(stderr, "\r\033[K%s", fitWidth(progressLine(), terminalWidth() - 1).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ConsoleSink::endDisplay() {
    if (drawn_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        drawn_ = false;
    }
}
