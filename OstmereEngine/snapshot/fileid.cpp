#include "snapshot/fileid.h"

#include "snapshot/sha1.h"

#include <cstring>

namespace ostmere {

namespace {

int hexValue(char16_t unit) {
    if (unit >= u'0' && unit <= u'9')
        return unit - u'0';
    if (unit >= u'a' && unit <= u'f')
        return unit - u'a' + 10;
    return -1; // upper case too: it would not come back as written
}

} // namespace

CFileId::CFileId(const uint8_t digest[20]) : kind_(Kind::digest) {
    std::memcpy(digest_.data(), digest, digest_.size());
}

CFileId CFileId::fromText(const std::u16string& text) {
    CFileId id;
    if (text.size() == 2 * id.digest_.size()) {
        bool hex = true;
        for (size_t i = 0; hex && i < id.digest_.size(); ++i) {
            const int high = hexValue(text[2 * i]), low = hexValue(text[2 * i + 1]);
            hex = high >= 0 && low >= 0;
            id.digest_[i] = static_cast<uint8_t>(high << 4 | (low & 15));
        }
        if (hex) {
            id.kind_ = Kind::digest;
            return id;
        }
    }
    id.digest_ = {};
    id.kind_ = Kind::text;
    id.text_ = std::make_shared<const std::u16string>(text);
    return id;
}

std::u16string CFileId::text() const {
    switch (kind_) {
    case Kind::digest:
        return digestToHex(digest_.data());
    case Kind::text:
        return *text_;
    default:
        return {};
    }
}

bool CFileId::operator==(const CFileId& other) const {
    if (kind_ == Kind::digest && other.kind_ == Kind::digest)
        return digest_ == other.digest_;
    if (kind_ == Kind::digest || other.kind_ == Kind::digest)
        return false; // a digest's text is never held as text
    return text() == other.text();
}

} // namespace ostmere
