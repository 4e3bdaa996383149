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
    std::vector<const std::u16string*> paths;
    paths.reserve(snapshot.directories.size() + snapshot.files.size());
    for (const auto& p : snapshot.directories)
        paths.push_back(&p);
    for (const auto& p : snapshot.files)
        paths.push_back(&p);
    std::sort(paths.begin(), paths.end(),
              [](const std::u16string* a, const std::u16string* b) { return *a < *b; });
    CSha1 sha;
    sha.start();
    for (const std::u16string* path : paths) {
        auto it = snapshot.meta.find(*path);
        std::u16string text = *path + u"|";
        text += it == snapshot.meta.end() ? u"-" : octal(it->second.mode & kModeBits & ~kSetIdBits);
        feedText(sha, text);
        feedText(sha, u"\n");
    }
    return finishHex(sha);
}

} // namespace ostmere
