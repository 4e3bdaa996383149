#include "fingerprint.h"

#include "fileio.h"
#include "sha1.h"
#include "tkerr.h"

#include <algorithm>

namespace ostmere {

void calcFileIds(CProgressSink* sink, const std::u16string& root, CDirSnapshot& snapshot) {
    sink->setStatus(u"Calculating file ids...");
    sink->setProgressRange(static_cast<uint32_t>(snapshot.files.size()));
    sink->resetProgress();
    CSha1 sha;
    uint8_t digest[20];
    for (const auto& path : snapshot.files) {
        sink->setDetail(u"Processing: " + path);
        sha.start();
        hashFile(sink, root + path, sha);
        sha.finish(digest);
        snapshot.fileIds[path] = digestToHex(digest);
        sink->stepProgress();
    }
}

namespace {

// UTF-16 code units, low byte first, without terminator.
void feedText(CSha1& sha, const std::u16string& text) {
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

} // namespace

std::u16string calcFingerprint(CDirSnapshot& snapshot, CProgressSink* sink) {
    CSha1 sha;
    sink->setStatus(u"Calculating directory fingerprint...");
    sink->setProgressRange(
        static_cast<uint32_t>(snapshot.files.size() + snapshot.directories.size()));
    sink->resetProgress();
    std::sort(snapshot.files.begin(), snapshot.files.end());
    std::sort(snapshot.directories.begin(), snapshot.directories.end());
    for (const auto& d : snapshot.directories) {
        feedText(sha, d + decimal(static_cast<int32_t>(snapshot.attributesOf(d))));
        sink->stepProgress();
    }
    for (const auto& f : snapshot.files) {
        feedText(sha, f + decimal(static_cast<int32_t>(snapshot.attributesOf(f))) +
                          snapshot.fileIdOf(f));
        sink->stepProgress();
    }
    uint8_t digest[20];
    sha.finish(digest);
    return digestToHex(digest);
}

} // namespace ostmere
