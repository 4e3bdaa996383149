// The optional byte interface of a sink: every content byte is announced and counted once per
// pass, and a sink that has it sees the same base calls as one without it.
#include "patch/patchformat.h"
#include "patchsupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Hashing on one thread: only then do the contents pass through the sink's buffer.
class ByteSink : public RecordingSink, public CByteProgressSink, public ostmere::COptionsSink {
  public:
    using RecordingSink::RecordingSink;
    ostmere::EngineOptions engineOptions() override { return {1}; }
    void stageBytes(uint64_t total) override { announced.push_back(total); }
    void bytesDone(uint64_t count) override { done += count; }
    std::vector<uint64_t> announced;
    uint64_t done = 0;
};

class ByteProgress : public ::testing::Test {
  protected:
    void SetUp() override {
        // Larger than the work buffer, so that one file passes in several chunks.
        makeTree(dir / "older", {{"a", "12345"}, {"keep", "same"}, {"sub/gone", "x"}});
        makeTree(dir / "newer",
                 {{"a", std::string(10000, 'n')}, {"keep", "same"}, {"sub/new", "abc"}});
    }
    TempDir dir;
};

TEST_F(ByteProgress, FingerprintAnnouncesAndCountsEveryByte) {
    RecordingSink plain(4096);
    ByteSink bytes(4096);
    tkFingerprint(&plain, u16(dir / "newer"), u"");
    tkFingerprint(&bytes, u16(dir / "newer"), u"");
    EXPECT_EQ(bytes.calls, plain.calls);
    EXPECT_EQ(bytes.announced, std::vector<uint64_t>{10007});
    EXPECT_EQ(bytes.done, 10007u);
}

TEST_F(ByteProgress, NoTotalsForASinkThatDoesNotWantThem) {
    struct CountOnly : ByteSink {
        using ByteSink::ByteSink;
        bool wantsStageBytes() override { return false; }
    } sink(4096);
    tkFingerprint(&sink, u16(dir / "newer"), u"");
    EXPECT_TRUE(sink.announced.empty());
    EXPECT_EQ(sink.done, 10007u);
}

TEST_F(ByteProgress, CreationAndApplicationCountStoredBytes) {
    RecordingSink plain(4096);
    ByteSink bytes(4096);
    tkDiffCreatePatch(&plain, u16(dir / "older"), u16(dir / "newer"), u16(dir / "p1.tkp"), u"",
                      u"");
    tkDiffCreatePatch(&bytes, u16(dir / "older"), u16(dir / "newer"), u16(dir / "p2.tkp"), u"",
                      u"");
    EXPECT_EQ(bytes.calls.size(), plain.calls.size());
    // Hashing both trees (10007 and 5 + 4 + 1 bytes), then storing "a" and "sub/new".
    EXPECT_EQ(bytes.announced, (std::vector<uint64_t>{10007, 10, 10003}));
    EXPECT_EQ(bytes.done, 10007u + 10u + 10003u);

    copyTree(dir / "older", dir / "target");
    ByteSink applying(4096);
    EXPECT_EQ(ostmere::applyPatch(&applying, u16(dir / "target"), u16(dir / "p2.tkp"), u"", {}),
              ostmere::ApplyResult::verified);
    // The target before (10 bytes) and after (10007); staging copies stored files itself.
    EXPECT_EQ(applying.announced, (std::vector<uint64_t>{10, 10007}));
    EXPECT_EQ(applying.done, 10u + 10007u);
}

TEST_F(ByteProgress, DryRunHashesStoredContentsAndChangesNothing) {
    diffPatch(dir / "older", dir / "newer", dir / "p.tkp");
    copyTree(dir / "older", dir / "target");
    const auto before = describeTree(dir / "target");
    ByteSink sink(4096);
    const ostmere::PatchCheck check =
        ostmere::checkPatch(&sink, u16(dir / "target"), u16(dir / "p.tkp"));
    EXPECT_TRUE(check.targetMatches);
    EXPECT_TRUE(check.contentsVerified);
    EXPECT_EQ(check.patch.storedBytes, 10003u);
    EXPECT_EQ(check.writeFiles, (std::deque<std::u16string>{u"\\a", u"\\sub\\new"}));
    EXPECT_EQ(check.removeFiles, std::deque<std::u16string>{u"\\sub\\gone"});
    EXPECT_EQ(sink.done, 10u + 10003u);
    EXPECT_EQ(describeTree(dir / "target"), before);

    // Another tree is reported, not refused: the caller decides.
    const ostmere::PatchCheck other =
        ostmere::checkPatch(&sink, u16(dir / "newer"), u16(dir / "p.tkp"));
    EXPECT_FALSE(other.targetMatches);
    EXPECT_FALSE(other.contentsVerified);
}

} // namespace
