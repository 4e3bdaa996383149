// SHA-1 (FIPS 180-1), with the x86 SHA extensions used when the processor has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostmere {

class CSha1 {
  public:
    // allowAccelerated false forces the portable code (both give identical digests).
    explicit CSha1(bool allowAccelerated = true);
    void start();
    void update(const void* data, size_t n);
    // Writes the 20-byte digest and clears the context.
    void finish(uint8_t digest[20]);

    static bool acceleratedAvailable();
    bool accelerated() const { return accelerated_; }

  private:
    void compress(const uint8_t* blocks, size_t count);

    uint32_t state_[5];
    uint32_t countLow_, countHigh_; // bits hashed so far
    uint8_t block_[64];
    bool accelerated_;
};

std::u16string digestToHex(const uint8_t digest[20]);
// Finishes sha and returns its digest as a file id (40 lowercase hex digits).
std::u16string finishHex(CSha1& sha);
// Feeds a text as UTF-16 code units, low byte first, without terminator.
void feedText(CSha1& sha, const std::u16string& text);

} // namespace ostmere
