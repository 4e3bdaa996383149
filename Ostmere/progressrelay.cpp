#include "progressrelay.h"

#include <algorithm>
#include <climits>

void ProgressRelay::setStatus(const std::u16string& text) {
    std::lock_guard guard(lock_);
    status_ = text;
    statusChanged_ = changed_ = true;
}

void ProgressRelay::setDetail(const std::u16string& text) {
    std::lock_guard guard(lock_);
    detail_ = text;
    detailChanged_ = changed_ = true;
}

void ProgressRelay::setRange(uint32_t steps) {
    std::lock_guard guard(lock_);
    // A bar of range 0..0 would show a busy animation; an empty stage shows an empty bar.
    maximum_ = std::clamp<uint32_t>(steps, 1, INT_MAX);
    position_ = std::min(position_, maximum_);
    changed_ = true;
}

void ProgressRelay::reset() {
    std::lock_guard guard(lock_);
    position_ = 0;
    changed_ = true;
}

void ProgressRelay::step() {
    std::lock_guard guard(lock_);
    position_ = std::min(position_ + 1, maximum_);
    changed_ = true;
}

bool ProgressRelay::frameDue() {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard guard(lock_);
    if (now - lastFrame_ < frame)
        return false;
    lastFrame_ = now;
    return true;
}

std::optional<ProgressRelay::View> ProgressRelay::take() {
    std::lock_guard guard(lock_);
    if (!changed_)
        return std::nullopt;
    View view;
    if (statusChanged_)
        view.status = QString::fromStdU16String(status_);
    if (detailChanged_)
        view.detail = QString::fromStdU16String(detail_);
    view.maximum = static_cast<int>(maximum_);
    view.position = static_cast<int>(position_);
    statusChanged_ = detailChanged_ = changed_ = false;
    return view;
}

void ProgressRelay::restart() {
    std::lock_guard guard(lock_);
    status_.clear();
    detail_.clear();
    maximum_ = 1;
    position_ = 0;
    statusChanged_ = detailChanged_ = changed_ = false;
    lastFrame_ = {};
}
