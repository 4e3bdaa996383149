// A file id: the SHA-1 of an item's content, written as 40 lowercase hex digits.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace ostmere {

// An id computed here is held as its 20 bytes, so a snapshot of a million files does not carry
// a million 40-unit strings. Any other text (a vault may hold one) is kept exactly as written:
// fingerprints and comparisons see the same text either way.
class CFileId {
  public:
    CFileId() = default; // no id at all
    explicit CFileId(const uint8_t digest[20]);
    static CFileId fromText(const std::u16string& text);

    bool present() const { return kind_ != Kind::none; }
    // The id's text; empty when there is none.
    std::u16string text() const;
    // Ids are equal when their texts are: no id equals an empty one.
    bool operator==(const CFileId& other) const;

  private:
    enum class Kind : uint8_t { none, digest, text };
    std::array<uint8_t, 20> digest_{};
    Kind kind_ = Kind::none;
    std::shared_ptr<const std::u16string> text_;
};

} // namespace ostmere
