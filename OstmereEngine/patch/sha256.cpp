#include "patch/sha256.h"

#include "core/tkerr.h"

#include <openssl/evp.h>

TK_MODULE("signature");

namespace ostmere {

CSha256::CSha256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context_);
        TK_RAISE(u"Unable to start the signature library.");
    }
}

CSha256::~CSha256() {
    EVP_MD_CTX_free(context_);
}

void CSha256::update(const void* data, size_t n) {
    if (EVP_DigestUpdate(context_, data, n) != 1)
        TK_RAISE(u"Unable to hash a patch.");
}

void CSha256::finish(uint8_t digest[kDigestBytes]) {
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_, digest, &length) != 1 || length != kDigestBytes)
        TK_RAISE(u"Unable to hash a patch.");
}

} // namespace ostmere
