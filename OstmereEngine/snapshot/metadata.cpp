#include "snapshot/metadata.h"

#include "snapshot/fingerprint.h"
#include "snapshot/sha1.h"

#include <algorithm>
#include <vector>

namespace ostmere {

namespace {

std::u16string octal(uint32_t value) {
    std::u16string text;
    do {
        text.insert(text.begin(), static_cast<char16_t>(u'0' + (value & 7)));
        value >>= 3;
    } while (value);
    return text;
}

} // namespace

std::u16string calcMetadataDigest(const CDirSnapshot& snapshot) {
    std::vector<CPathRefs::const_iterator> items;
    items.reserve(snapshot.directories.size() + snapshot.files.size());
    for (const CPathRefs* list : {&snapshot.directories, &snapshot.files})
        for (auto it = list->begin(); it != list->end(); ++it)
            items.push_back(it);
    std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return *a < *b; });
    CSha1 sha;
    sha.start();
    for (const auto& item : items) {
        const CEntry& entry = item.entry();
        std::u16string text = *item + u"|";
        text += entry.hasMeta ? octal(entry.meta.mode & kModeBits & ~kSetIdBits) : u"-";
        feedText(sha, text);
        feedText(sha, u"\n");
    }
    return finishHex(sha);
}

} // namespace ostmere
