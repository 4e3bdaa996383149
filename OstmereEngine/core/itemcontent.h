// The content of an item as a tree's snapshot and its patches carry it: a regular file's bytes,
// or a symbolic link's target text. The item is opened once and never through a link, so a
// link's content is its own text, whatever it points at.
#pragma once

#include "core/descriptor.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostmere {

// The longest target text a link may have; longer texts are refused, never cut.
constexpr size_t kMaxLinkTarget = 4095;

class CItemContent {
  public:
    // Raises failureText followed by the path when the item cannot be opened. False when it is
    // neither a regular file nor a link (a pipe or device swapped in since the listing): it has
    // no content to read.
    bool open(const std::u16string& fullPath,
              const char16_t* failureText = u"Unable to open file:");
    // The same for the entry name of an open directory; fullPath names it in messages.
    bool openIn(int directory, const std::string& name, const std::u16string& fullPath,
                const char16_t* failureText = u"Unable to open file:");

    bool isLink() const { return isLink_; }
    uint64_t size() const { return size_; }
    // Up to n bytes; 0 at the end or on a read error.
    size_t read(void* buffer, size_t n);
    // Announces a read through the whole file; worth its call only beyond one buffer.
    void adviseSequential();
    // False when the file's size is no longer what it was when opened.
    bool sizeUnchanged() const;

  private:
    void reset();
    template <class ReadLink>
    bool finishOpen(const std::u16string& fullPath, const char16_t* failureText, ReadLink readLink);

    CDescriptor fd_;
    bool isLink_ = false;
    std::string target_;
    uint64_t size_ = 0, position_ = 0;
};

} // namespace ostmere
