// Hashing file contents on worker threads: the same ids and the same sink calls as hashing
// them one after the other, errors in list order, and cancels that leave no thread behind.
#include "expecterr.h"
#include "snapshot/fingerprint.h"
#include "snapshot/hashpool.h"
#include "snapshot/sha1.h"
#include "snapshotsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ostmere;
using namespace testing_support;

namespace {

using Strings = std::vector<std::string>;

class JobsSink : public RecordingSink, public COptionsSink {
  public:
    JobsSink(uint32_t jobs, uint32_t bufferSize = 4096) : RecordingSink(bufferSize), jobs_(jobs) {}
    EngineOptions engineOptions() override { return EngineOptions{jobs_}; }

  private:
    uint32_t jobs_;
};

size_t threadsOfThisProcess() {
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/task"), {}));
}

// Files of many sizes, some larger than any worker's slice of a small buffer.
CDirSnapshot manyFiles(const TempDir& tmp, int count) {
    CDirSnapshot s;
    for (int i = 0; i < count; ++i) {
        const std::string name = "f" + std::to_string(i);
        writeFile(tmp / name,
                  std::string(static_cast<size_t>((i * 7919) % 9000), char('a' + i % 26)));
        s.addFile(utf8ToUtf16("\\" + name));
    }
    return s;
}

TEST(HashPool, AnyNumberOfJobsGivesTheSameIdsAndSinkCalls) {
    TempDir tmp;
    const CDirSnapshot files = manyFiles(tmp, 300);
    CDirSnapshot inOrder = files;
    JobsSink one(1);
    calcFileIds(&one, tmp.u16(), inOrder);
    ASSERT_EQ(idsIn(inOrder).size(), 300u);
    EXPECT_EQ(inOrder.fileIdOf(u"\\f0"), u"da39a3ee5e6b4b0d3255bfef95601890afd80709");
    for (uint32_t jobs : {2u, 3u, 16u, 100u})
        for (uint32_t bufferSize : {300u, 1u << 20}) {
            SCOPED_TRACE(std::to_string(jobs) + " jobs, buffer " + std::to_string(bufferSize));
            CDirSnapshot pooled = files;
            JobsSink many(jobs, bufferSize);
            calcFileIds(&many, tmp.u16(), pooled);
            EXPECT_EQ(idsIn(pooled), idsIn(inOrder));
            EXPECT_EQ(many.calls, one.calls);
        }
}

// Workers open a file by its name in the directory they opened for the file before it: names
// that extend a directory's name, and a directory inside the one before, each get their own.
TEST(HashPool, FilesAcrossDirectoriesWithSharedPrefixesGetTheirOwnContent) {
    TempDir tmp;
    const std::vector<std::string> files = {"a/f", "a/b/f", "a/g", "ab/f", "ab/g", "b/f", "f"};
    CDirSnapshot s;
    for (const auto& name : files) {
        fs::create_directories((tmp / name).parent_path());
        writeFile(tmp / name, "content of " + name);
        std::string rel = "\\" + name;
        std::replace(rel.begin(), rel.end(), '/', '\\');
        s.addFile(utf8ToUtf16(rel));
    }
    for (uint32_t jobs : {1u, 2u}) {
        CDirSnapshot hashed = s;
        JobsSink sink(jobs);
        calcFileIds(&sink, tmp.u16(), hashed);
        for (size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(utf16ToUtf8(hashed.files.entryAt(i).id.text()),
                      sha1Of("content of " + files[i]))
                << files[i] << ", " << jobs << " jobs";
    }
}

TEST(HashPool, TheFirstFailingFileInListOrderIsRaisedAfterItsDetail) {
    TempDir tmp;
    CDirSnapshot s = manyFiles(tmp, 200);
    // Later files fail too and, being small, may well be hashed first.
    for (int i : {150, 40, 199})
        fs::remove(tmp / ("f" + std::to_string(i)));
    for (uint32_t jobs : {1u, 4u}) {
        SCOPED_TRACE(jobs);
        CDirSnapshot attempt = s;
        JobsSink sink(jobs);
        CTKErr e = expectTKErr([&] { calcFileIds(&sink, tmp.u16(), attempt); });
        EXPECT_EQ(e.message, u"Unable to open file:" + tmp.u16() + u"\\f40");
        EXPECT_EQ(sink.calls.back(), "detail:Processing: \\f40");
        EXPECT_EQ(std::count(sink.calls.begin(), sink.calls.end(), "step"), 40);
    }
}

TEST(HashPool, CancelAtAnyFileStopsAndJoinsTheWorkers) {
    TempDir tmp;
    CDirSnapshot s = manyFiles(tmp, 120);
    writeFile(tmp / "f60", std::string(8 << 20, 'x')); // a worker is inside it when cancelled
    const size_t threads = threadsOfThisProcess();
    for (const std::string kind : {"detail", "step"})
        for (int n : {1, 2, 59, 61, 120}) {
            SCOPED_TRACE(kind + " #" + std::to_string(n));
            CDirSnapshot attempt = s;
            JobsSink sink(4, 64 * 1024);
            sink.cancelAt(kind, n);
            EXPECT_THROW(calcFileIds(&sink, tmp.u16(), attempt), COPCancel);
            EXPECT_EQ(idsIn(attempt).size(), static_cast<size_t>(kind == "step" ? n : n - 1));
            EXPECT_EQ(threadsOfThisProcess(), threads);
        }
}

TEST(HashPool, DigestsComeInOrderFromAnyBufferSplit) {
    TempDir tmp;
    std::vector<std::string> contents;
    for (int i = 0; i < 500; ++i) {
        contents.push_back(std::string(static_cast<size_t>(i % 37), char(i)));
        writeFile(tmp / std::to_string(i), contents.back());
    }
    std::vector<uint8_t> buffer(3); // fewer bytes than jobs: one byte per worker
    CHashPool pool(
        contents.size(), [&](size_t i) { return utf8ToUtf16((tmp / std::to_string(i)).string()); },
        buffer.data(), buffer.size(), 8);
    uint8_t digest[20];
    for (const std::string& content : contents) {
        pool.next(digest);
        CSha1 sha;
        sha.start();
        sha.update(content.data(), content.size());
        uint8_t expected[20];
        sha.finish(expected);
        ASSERT_EQ(digestToHex(digest), digestToHex(expected));
    }
}

TEST(HashPool, JobsComeFromTheSinkOrTheCores) {
    RecordingSink plain;
    EXPECT_EQ(hashJobsFor(&plain), std::clamp<uint32_t>(std::thread::hardware_concurrency(), 1,
                                                        EngineOptions::kMaxHashJobs));
    for (auto [asked, used] : {std::pair{1u, 1u}, {3u, 3u}, {1000u, EngineOptions::kMaxHashJobs}}) {
        JobsSink sink(asked);
        EXPECT_EQ(hashJobsFor(&sink), used);
    }
}

} // namespace
