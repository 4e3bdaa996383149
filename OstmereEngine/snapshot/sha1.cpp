#include "snapshot/sha1.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define OSTMERE_SHA_NI 1
#endif

namespace ostmere {

namespace {

inline uint32_t rol(uint32_t v, int n) {
    return (v << n) | (v >> (32 - n));
}

inline uint32_t loadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void compressPortable(uint32_t state[5], const uint8_t* data, size_t count) {
    for (; count; --count, data += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBigEndian(data + 4 * i);
        for (int i = 16; i < 80; ++i)
            w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        for (int i = 0; i < 80; ++i) {
            uint32_t f, k;
            if (i < 20)
                f = (b & c) | (~b & d), k = 0x5A827999;
            else if (i < 40)
                f = b ^ c ^ d, k = 0x6ED9EBA1;
            else if (i < 60)
                f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
            else
                f = b ^ c ^ d, k = 0xCA62C1D6;
            uint32_t t = rol(a, 5) + f + e + k + w[i];
            e = d, d = c, c = rol(b, 30), b = a, a = t;
        }
        state[0] += a, state[1] += b, state[2] += c, state[3] += d, state[4] += e;
    }
}

#ifdef OSTMERE_SHA_NI
// Four rounds per sha1rnds4; the message schedule runs ahead of the rounds.
#define OSTMERE_SHA_STEP(ein, eout, mcur, m2, m1, mx, func)                                        \
    ein = _mm_sha1nexte_epu32(ein, mcur);                                                          \
    eout = abcd;                                                                                   \
    m2 = _mm_sha1msg2_epu32(m2, mcur);                                                             \
    abcd = _mm_sha1rnds4_epu32(abcd, ein, func);                                                   \
    m1 = _mm_sha1msg1_epu32(m1, mcur);                                                             \
    mx = _mm_xor_si128(mx, mcur);

__attribute__((target("sha,sse4.1"))) void compressShaNi(uint32_t state[5], const uint8_t* data,
                                                         size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);
    __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    abcd = _mm_shuffle_epi32(abcd, 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
#define load(offset)                                                                               \
    _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + (offset))), byteSwap)

    for (; count; --count, data += 64) {
        const __m128i abcdSave = abcd, eSave = e0;
        __m128i e1;
        __m128i m0 = load(0), m1 = load(16), m2 = load(32), m3 = load(48);

        e0 = _mm_add_epi32(e0, m0); // rounds 0-3
        e1 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
        e1 = _mm_sha1nexte_epu32(e1, m1); // rounds 4-7
        e0 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e1, 0);
        m0 = _mm_sha1msg1_epu32(m0, m1);
        e0 = _mm_sha1nexte_epu32(e0, m2); // rounds 8-11
        e1 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
        m1 = _mm_sha1msg1_epu32(m1, m2);
        m0 = _mm_xor_si128(m0, m2);

        OSTMERE_SHA_STEP(e1, e0, m3, m0, m2, m1, 0) // rounds 12-15
        OSTMERE_SHA_STEP(e0, e1, m0, m1, m3, m2, 0) // 16-19
        OSTMERE_SHA_STEP(e1, e0, m1, m2, m0, m3, 1) // 20-23
        OSTMERE_SHA_STEP(e0, e1, m2, m3, m1, m0, 1) // 24-27
        OSTMERE_SHA_STEP(e1, e0, m3, m0, m2, m1, 1) // 28-31
        OSTMERE_SHA_STEP(e0, e1, m0, m1, m3, m2, 1) // 32-35
        OSTMERE_SHA_STEP(e1, e0, m1, m2, m0, m3, 1) // 36-39
        OSTMERE_SHA_STEP(e0, e1, m2, m3, m1, m0, 2) // 40-43
        OSTMERE_SHA_STEP(e1, e0, m3, m0, m2, m1, 2) // 44-47
        OSTMERE_SHA_STEP(e0, e1, m0, m1, m3, m2, 2) // 48-51
        OSTMERE_SHA_STEP(e1, e0, m1, m2, m0, m3, 2) // 52-55
        OSTMERE_SHA_STEP(e0, e1, m2, m3, m1, m0, 2) // 56-59
        OSTMERE_SHA_STEP(e1, e0, m3, m0, m2, m1, 3) // 60-63

        OSTMERE_SHA_STEP(e0, e1, m0, m1, m3, m2, 3) // 64-67
        e1 = _mm_sha1nexte_epu32(e1, m1);           // rounds 68-71
        e0 = abcd;
        m2 = _mm_sha1msg2_epu32(m2, m1);
        abcd = _mm_sha1rnds4_epu32(abcd, e1, 3);
        m3 = _mm_xor_si128(m3, m1);
        e0 = _mm_sha1nexte_epu32(e0, m2); // rounds 72-75
        e1 = abcd;
        m3 = _mm_sha1msg2_epu32(m3, m2);
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 3);
        e1 = _mm_sha1nexte_epu32(e1, m3); // rounds 76-79
        e0 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e1, 3);

        e0 = _mm_sha1nexte_epu32(e0, eSave);
        abcd = _mm_add_epi32(abcd, abcdSave);
    }
#undef load
    abcd = _mm_shuffle_epi32(abcd, 0x1B);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}
#undef OSTMERE_SHA_STEP
#endif

} // namespace

namespace {

bool probeAcceleration() {
#ifdef OSTMERE_SHA_NI
    unsigned a, b, c, d;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & (1u << 29)))
        return false;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    return (c & (1u << 19)) && (c & (1u << 9)); // SSE4.1 and SSSE3
#else
    return false;
#endif
}

} // namespace

bool CSha1::acceleratedAvailable() {
    // Asked once: under a hypervisor each cpuid traps, which cost more than hashing a small file.
    static const bool available = probeAcceleration();
    return available;
}

CSha1::CSha1(bool allowAccelerated) : accelerated_(allowAccelerated && acceleratedAvailable()) {
    start();
}

void CSha1::start() {
    state_[0] = 0x67452301;
    state_[1] = 0xEFCDAB89;
    state_[2] = 0x98BADCFE;
    state_[3] = 0x10325476;
    state_[4] = 0xC3D2E1F0;
    countLow_ = countHigh_ = 0;
    std::memset(block_, 0, sizeof block_);
}

void CSha1::compress(const uint8_t* blocks, size_t count) {
#ifdef OSTMERE_SHA_NI
    if (accelerated_)
        return compressShaNi(state_, blocks, count);
#endif
    compressPortable(state_, blocks, count);
}

void CSha1::update(const void* data, size_t n) {
    const auto* in = static_cast<const uint8_t*>(data);
    size_t used = (countLow_ >> 3) & 63;
    uint64_t bits = (uint64_t(countHigh_) << 32 | countLow_) + uint64_t(n) * 8;
    countLow_ = static_cast<uint32_t>(bits);
    countHigh_ = static_cast<uint32_t>(bits >> 32);
    if (used) {
        size_t take = std::min(n, 64 - used);
        std::memcpy(block_ + used, in, take);
        in += take, n -= take, used += take;
        if (used < 64)
            return;
        compress(block_, 1);
    }
    if (n >= 64) {
        compress(in, n / 64);
        in += n / 64 * 64;
        n %= 64;
    }
    std::memcpy(block_, in, n);
}

void CSha1::finish(uint8_t digest[20]) {
    uint8_t length[8];
    for (int i = 0; i < 4; ++i) {
        length[i] = static_cast<uint8_t>(countHigh_ >> (24 - 8 * i));
        length[4 + i] = static_cast<uint8_t>(countLow_ >> (24 - 8 * i));
    }
    static const uint8_t pad[64] = {0x80};
    size_t used = (countLow_ >> 3) & 63;
    update(pad, used < 56 ? 56 - used : 120 - used);
    update(length, 8);
    for (int i = 0; i < 20; ++i)
        digest[i] = static_cast<uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
    std::memset(state_, 0, sizeof state_);
    countLow_ = countHigh_ = 0;
    std::memset(block_, 0, sizeof block_);
}

std::u16string digestToHex(const uint8_t digest[20]) {
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string text(40, u'0');
    for (int i = 0; i < 20; ++i) {
        text[2 * i] = digits[digest[i] >> 4];
        text[2 * i + 1] = digits[digest[i] & 15];
    }
    return text;
}

std::u16string finishHex(CSha1& sha) {
    uint8_t digest[20];
    sha.finish(digest);
    return digestToHex(digest);
}

// A little-endian host holds the text in exactly the form hashed already.
void feedText(CSha1& sha, const std::u16string& text) {
    if constexpr (std::endian::native == std::endian::little) {
        sha.update(text.data(), text.size() * sizeof(char16_t));
        return;
    }
    uint8_t bytes[512];
    size_t used = 0;
    for (char16_t unit : text) {
        bytes[used++] = static_cast<uint8_t>(unit & 0xFF);
        bytes[used++] = static_cast<uint8_t>(unit >> 8);
        if (used == sizeof bytes) {
            sha.update(bytes, used);
            used = 0;
        }
    }
    sha.update(bytes, used);
}

} // namespace ostmere
