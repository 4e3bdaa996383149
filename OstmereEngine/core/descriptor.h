// One owned file descriptor: the handle through which the engine walks and changes trees
// relative to a directory it holds open, so no path string is resolved twice.
#pragma once

#include <unistd.h>
#include <utility>

namespace ostmere {

class CDescriptor {
  public:
    CDescriptor() = default;
    explicit CDescriptor(int fd) : fd_(fd) {}
    ~CDescriptor() { reset(); }
    CDescriptor(CDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    CDescriptor& operator=(CDescriptor&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }
    // Gives up ownership without closing.
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

} // namespace ostmere
