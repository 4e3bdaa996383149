// SHA-256 of a patch's bytes for its signature. The digest goes through OpenSSL's libcrypto,
// which uses the processor's SHA extensions: a signed patch is hashed once when it is made and
// once before it is applied, and the portable code would take several times as long.
#pragma once

#include <cstddef>
#include <cstdint>

struct evp_md_ctx_st;

namespace ostmere {

class CSha256 {
  public:
    static constexpr size_t kDigestBytes = 32;

    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void update(const void* data, size_t n);
    void finish(uint8_t digest[kDigestBytes]);

  private:
    evp_md_ctx_st* context_;
};

} // namespace ostmere
