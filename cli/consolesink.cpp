#include "consolesink.h"

#include <cstdio>
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

// Display width is approximated by code points; enough to keep the line on one row.
std::string fitWidth(const std::string& text, size_t width) {
    std::string out;
    size_t points = 0;
    for (unsigned char c : text) {
        bool lead = (c & 0xC0) != 0x80;
        if (lead && ++points > width)
            break;
        out += static_cast<char>(c);
    }
    return out;
}

} // namespace

ConsoleSink::ConsoleSink(Verbosity verbosity)
    : buffer_(2 * 1024 * 1024), verbosity_(verbosity),
      live_(verbosity == Verbosity::normal && isatty(STDERR_FILENO)) {}

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

bool ConsoleSink::cancelRequested() {
    return cancelFlag != 0;
}

void ConsoleSink::checkCancel() {
    if (cancelFlag)
        throw COPCancel();
}

void ConsoleSink::setStatus(const std::u16string& text) {
    status_ = text;
    detail_.clear();
    if (verbosity_ == Verbosity::verbose)
        std::fprintf(stderr, "%s\n", utf16ToUtf8(text).c_str());
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
    std::fprintf(stderr, "%s\n", utf16ToUtf8(text).c_str());
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

void ConsoleSink::trace(const std::u16string& line) {
    if (verbosity_ != Verbosity::verbose)
        return;
    std::fprintf(stderr, "%s\n", utf16ToUtf8(line).c_str());
}

void ConsoleSink::redraw(bool force) {
    if (!live_)
        return;
    auto now = std::chrono::steady_clock::now();
    // Drawing every step of a large tree would cost more than the work itself.
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    std::string line = utf16ToUtf8(status_);
    if (range_)
        line += " " + std::to_string(position_) + "/" + std::to_string(range_);
    if (!detail_.empty())
        line += " " + utf16ToUtf8(detail_);
    for (auto& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::fprintf(stderr, "\r\033[K%s", fitWidth(line, terminalWidth() - 1).c_str());
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
