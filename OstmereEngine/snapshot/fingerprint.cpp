#include "snapshot/fingerprint.h"

#include "core/byteprogress.h"
#include "core/tkerr.h"
#include "snapshot/hashpool.h"
#include "snapshot/sha1.h"
#include "snapshot/treeread.h"

#include <algorithm>
#include <bit>

namespace ostmere {
namespace {

void calcFileIdsInOrder(CProgressSink* sink, const std::u16string& root, CDirSnapshot& snapshot) {
    // Only this path reads through the sink's byte interface; the pool's workers never call it.
    announceFileBytes(sink, root, snapshot.files);
    CSha1 sha;
    CFileOpener opener;
    uint8_t digest[20];
    for (auto it = snapshot.files.begin(); it != snapshot.files.end(); ++it) {
        sink->setDetail(u"Processing: " + *it);
        sha.start();
        hashFile(sink, root + *it, sha, &opener);
        sha.finish(digest);
        it.entry().id = CFileId(digest);
        sink->stepProgress();
    }
}

} // namespace

void calcFileIds(CProgressSink* sink, const std::u16string& root, CDirSnapshot& snapshot) {
    sink->setStatus(u"Calculating file ids...");
    sink->setProgressRange(static_cast<uint32_t>(snapshot.files.size()));
    sink->resetProgress();
    const uint32_t jobs = hashJobsFor(sink);
    if (jobs == 1 || snapshot.files.size() < 2)
        return calcFileIdsInOrder(sink, root, snapshot);
    // The workers read ahead; this thread alone talks to the sink, file by file as before.
    CHashPool pool(
        snapshot.files.size(), [&](size_t i) { return root + snapshot.files[i]; },
        sink->getBuffer(), sink->getBufferSize(), jobs);
    CByteProgressSink* bytes = byteSinkOf(sink);
    uint8_t digest[20];
    for (auto it = snapshot.files.begin(); it != snapshot.files.end(); ++it) {
        sink->setDetail(u"Processing: " + *it);
        reportBytes(bytes, pool.next(digest));
        it.entry().id = CFileId(digest);
        sink->stepProgress();
    }
}

std::u16string calcFingerprint(CDirSnapshot& snapshot, CProgressSink* sink) {
    CSha1 sha;
    sink->setStatus(u"Calculating directory fingerprint...");
    sink->setProgressRange(
        static_cast<uint32_t>(snapshot.files.size() + snapshot.directories.size()));
    sink->resetProgress();
    snapshot.files.sort();
    snapshot.directories.sort();
    // A path without a word or an id feeds what an empty one would: "0", nothing.
    for (auto it = snapshot.directories.begin(); it != snapshot.directories.end(); ++it) {
        feedText(sha, *it);
        feedText(sha, decimal(static_cast<int32_t>(it.entry().attributes)));
        sink->stepProgress();
    }
    for (auto it = snapshot.files.begin(); it != snapshot.files.end(); ++it) {
        feedText(sha, *it);
        feedText(sha, decimal(static_cast<int32_t>(it.entry().attributes)));
        feedText(sha, it.entry().id.text());
        sink->stepProgress();
    }
    return finishHex(sha);
}

} // namespace ostmere
