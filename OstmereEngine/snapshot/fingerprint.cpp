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
    announceFileBytes(sink, root, {&snapshot.files});
    CSha1 sha;
    for (const auto& path : snapshot.files) {
        sink->setDetail(u"Processing: " + path);
        sha.start();
        hashFile(sink, root + path, sha);
        snapshot.fileIds[path] = finishHex(sha);
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
    for (const auto& path : snapshot.files) {
        sink->setDetail(u"Processing: " + path);
        reportBytes(bytes, pool.next(digest));
        snapshot.fileIds[path] = digestToHex(digest);
        sink->stepProgress();
    }
}

std::u16string calcFingerprint(CDirSnapshot& snapshot, CProgressSink* sink) {
    CSha1 sha;
    sink->setStatus(u"Calculating directory fingerprint...");
    sink->setProgressRange(
        static_cast<uint32_t>(snapshot.files.size() + snapshot.directories.size()));
    sink->resetProgress();
    std::sort(snapshot.files.begin(), snapshot.files.end());
    std::sort(snapshot.directories.begin(), snapshot.directories.end());
    CSortedLookup attributes(snapshot.attributes);
    for (const auto& d : snapshot.directories) {
        feedText(sha, d);
        feedText(sha, decimal(static_cast<int32_t>(attributes[d])));
        sink->stepProgress();
    }
    CSortedLookup fileAttributes(snapshot.attributes);
    CSortedLookup ids(snapshot.fileIds);
    for (const auto& f : snapshot.files) {
        feedText(sha, f);
        feedText(sha, decimal(static_cast<int32_t>(fileAttributes[f])));
        feedText(sha, ids[f]);
        sink->stepProgress();
    }
    return finishHex(sha);
}

} // namespace ostmere
