// Create a patch between two trees, apply it to a copy of the older one: the copy becomes the
// newer tree, fingerprint included.
#include "patchsupport.h"

#include <gtest/gtest.h>

using namespace ostmere;
using namespace testing_support;

namespace {

struct Case {
    const char* what;
    std::vector<TreeEntry> older, newer;
    std::vector<std::string> readOnlyOlder = {}, readOnlyNewer = {};
    std::string filter = {};
    // What the copy must look like when it is not simply the newer tree (ignored items stay).
    std::vector<std::string> expected = {};
};

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"new file", {{"a", "1"}}, {{"a", "1"}, {"b", "2"}}},
        {"removed file", {{"a", "1"}, {"b", "2"}}, {{"a", "1"}}},
        {"changed file", {{"a", "1"}, {"b", "2"}}, {{"a", "1"}, {"b", "changed"}}},
        {"identical trees", {{"a", "1"}, {"d/", ""}}, {{"a", "1"}, {"d/", ""}}},
        {"two empty trees", {}, {}},
        {"file becomes a directory", {{"p", "file"}}, {{"p/q", "inside"}, {"p/r/", ""}}},
        {"directory becomes a file", {{"p/q", "inside"}, {"p/r/s", "deep"}}, {{"p", "file"}}},
        {"read-only files",
         {{"keep", "k"},
          {"roChanged", "old"},
          {"becomesRo", "same"},
          {"roGone", "x"},
          {"roBecomesRw", "y"}},
         {{"keep", "k"},
          {"roChanged", "new content"},
          {"becomesRo", "same"},
          {"roNew", "n"},
          {"roBecomesRw", "y"}},
         {"roChanged", "roGone", "roBecomesRw"},
         {"roChanged", "becomesRo", "roNew"}},
        {"read-only new directory", {}, {{"rod/f", "1"}}, {}, {"rod", "rod/f"}},
        {"empty files",
         {{"toEmpty", "had content"}, {"fromEmpty", ""}, {"stays", ""}},
         {{"toEmpty", ""}, {"fromEmpty", "now content"}, {"stays", ""}, {"newEmpty", ""}}},
        {"nested new directories",
         {{"a", "1"}},
         {{"a", "1"}, {"n/m/o/f", "deep"}, {"n/e/", ""}, {"n/m/g", "g"}}},
        {"removed nested directories",
         {{"a", "1"}, {"r/s/t/f", "deep"}, {"r/g", "g"}, {"r/e/", ""}},
         {{"a", "1"}}},
        {"names with spaces and bytes that are not UTF-8",
         {{"dir with space/old name.txt", "1"}, {"caf\xe9", "latin-1"}, {"\xff\xfe dir/x", "2"}},
         {{"dir with space/new name.txt", "1"},
          {"caf\xe9", "changed"},
          {"\xff\xfe dir/x", "2"},
          {"\xc3\xa9t\xc3\xa9 \x80", "3"}}},
        {"names holding a backslash or its private-use stand-in",
         {{"dev-disk-by\\x2duuid.swap", "old"}, {"a\\dir/\xef\x81\x9c", "1"}},
         {{"dev-disk-by\\x2duuid.swap", "new"},
          {"a\\dir/\xef\x81\x9c", "1"},
          {"a\\dir/\\\xef\x81\x9c\\", "2"}}},
        {"file larger than the work buffer",
         {{"big", std::string(20000, 'a')}},
         {{"big", std::string(9000, 'b') + std::string(11001, 'c')}}},
        {"ignored items via the filter",
         {{"a", "1"}, {"old.obj", "o"}, {"Debug/x", "dx"}, {"sub/keep.obj", "k"}},
         {{"a", "2"}, {"new.obj", "n"}, {"Debug/y", "dy"}, {"sub/other", "s"}},
         {},
         {},
         "*.obj;\\Debug",
         {"Debug/", "Debug/x=dx", "a=2", "old.obj=o", "sub/", "sub/keep.obj=k", "sub/other=s"}},
        {"everything at once",
         {{"same", "s"},
          {"changed", "c1"},
          {"gone", "g"},
          {"swapF/x", "1"},
          {"swapD", "d"},
          {"oldDir/a/b/c", "abc"},
          {"ro", "r"}},
         {{"same", "s"},
          {"changed", "c2"},
          {"new", "n"},
          {"swapF", "f"},
          {"swapD/y", "2"},
          {"newDir/a/b/c", "abc"},
          {"ro", "r"},
          {"emptyDir/", ""}},
         {},
         {"ro", "newDir/a"}},
    };
    return table;
}

void build(const fs::path& root, const std::vector<TreeEntry>& entries,
           const std::vector<std::string>& readOnly) {
    fs::create_directories(root);
    makeTree(root, entries);
    // Deepest first, so that a read-only directory does not stop its contents being changed.
    for (auto it = readOnly.rbegin(); it != readOnly.rend(); ++it)
        makeReadOnly(root / *it);
}

TEST(RoundTrip, CopyOfOlderBecomesNewer) {
    for (const auto& c : cases()) {
        TempDir base;
        build(base / "older", c.older, c.readOnlyOlder);
        build(base / "newer", c.newer, c.readOnlyNewer);
        const fs::path patch = base / "p.tkp";
        diffPatch(base / "older", base / "newer", patch, c.filter);
        copyTree(base / "older", base / "target");

        RecordingSink sink;
        tkApplyPatch(&sink, u16(base / "target"), u16(patch), u"", false, false);
        EXPECT_EQ(sink.statuses().back(), "New fingerprint verified.") << c.what;
        const auto expected = c.expected.empty() ? describeTree(base / "newer") : c.expected;
        EXPECT_EQ(describeTree(base / "target"), expected) << c.what;
        EXPECT_EQ(fingerprintOf(base / "target", c.filter), loadInfo(patch).NewerTreeID) << c.what;
        EXPECT_EQ(fingerprintOf(base / "target", c.filter), fingerprintOf(base / "newer", c.filter))
            << c.what;
    }
}

class ApplyTwice : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(base / "older", {{"gone", "g"}, {"changed", "1"}, {"same", "s"}});
        makeTree(base / "newer", {{"changed", "2"}, {"same", "s"}, {"newDir/f", "f"}});
        diffPatch(base / "older", base / "newer", patch);
        copyTree(base / "older", base / "target");
        RecordingSink sink;
        tkApplyPatch(&sink, u16(base / "target"), u16(patch), u"", false, false);
        ASSERT_EQ(describeTree(base / "target"), describeTree(base / "newer"));
    }
    std::string apply(bool continueOnErrors, bool ignoreFingerprint) {
        return errorOf([&] {
            tkApplyPatch(&sink, u16(base / "target"), u16(patch), u"", continueOnErrors,
                         ignoreFingerprint);
        });
    }
    TempDir base;
    fs::path patch = base / "p.tkp";
    RecordingSink sink;
};

TEST_F(ApplyTwice, FingerprintGuardRefusesTheSecondRun) {
    EXPECT_EQ(apply(true, false),
              "Trying to apply a patch to dirrectory with different fingerprint.");
    EXPECT_EQ(describeTree(base / "target"), describeTree(base / "newer"));
}

TEST_F(ApplyTwice, IgnoringTheFingerprintStopsAtTheFirstMissingItem) {
    EXPECT_EQ(apply(false, true),
              "Unable to remove item. " + enginePath(base / "target") + "\\gone");
    EXPECT_EQ(describeTree(base / "target"), describeTree(base / "newer"));
}

TEST_F(ApplyTwice, IgnoringTheFingerprintAndErrorsRewritesTheFiles) {
    writeFile(base / "target/changed", "tampered"); // shows that the file is written again
    EXPECT_EQ(apply(true, true), "no error");
    EXPECT_EQ(describeTree(base / "target"), describeTree(base / "newer"));
    // No scan follows the changes when the fingerprint is ignored.
    EXPECT_EQ(sink.statuses().back(), "Patch applied ok.");
}

TEST(ApplyTwiceNewDirectory, ExistingNewDirectoryIsAnError) {
    TempDir base;
    makeTree(base / "older", {{"a", "1"}});
    makeTree(base / "newer", {{"a", "1"}, {"n/", ""}});
    diffPatch(base / "older", base / "newer", base / "p.tkp");
    copyTree(base / "newer", base / "target");
    RecordingSink sink;
    EXPECT_EQ(errorOf([&] {
                  tkApplyPatch(&sink, u16(base / "target"), u16(base / "p.tkp"), u"", false, true);
              }),
              "Unable to create a directory. " + enginePath(base / "target") + "\\n");
    EXPECT_EQ(errorOf([&] {
                  tkApplyPatch(&sink, u16(base / "target"), u16(base / "p.tkp"), u"", true, true);
              }),
              "no error");
}

TEST(ApplyPhases, EmptyPatchRunsEveryPhaseWithNothingToDo) {
    TempDir base;
    makeTree(base / "tree", {{"a", "1"}});
    diffPatch(base / "tree", base / "tree", base / "p.tkp");
    RecordingSink sink;
    tkApplyPatch(&sink, u16(base / "tree"), u16(base / "p.tkp"), u"", false, false);
    std::vector<std::string> phases;
    for (size_t i = 0; i + 1 < sink.calls.size(); ++i)
        if (sink.calls[i].rfind("status:R", 0) == 0 ||
            sink.calls[i] == "status:Creating Directories.")
            phases.push_back(sink.calls[i].substr(7) + " " + sink.calls[i + 1]);
    EXPECT_EQ(phases,
              (std::vector<std::string>{"Removing Files. range:0", "Removing Directories. range:0",
                                        "Creating Directories. range:0", "Restoring files. range:0",
                                        "Restoring FS attributes. range:0"}));
    EXPECT_EQ(sink.statuses().back(), "New fingerprint verified.");
}

// A cancelled creation leaves the earlier patch at its path untouched and nothing of its own.
TEST(CancelledPatch, KeepsTheEarlierPatch) {
    TempDir base;
    makeTree(base / "older", {{"a", "1"}});
    makeTree(base / "newer", {{"a", "2"}, {"b", "3"}, {"c", "4"}});
    const fs::path patch = base / "p.tkp";
    // Find the detail call that announces the second stored file, then cancel there.
    RecordingSink probe;
    tkDiffCreatePatch(&probe, u16(base / "older"), u16(base / "newer"), u16(patch), u"", u"");
    int details = 0, cancelAt = 0, writing = 0;
    for (const auto& call : probe.calls)
        if (call.rfind("detail:", 0) == 0) {
            ++details;
            if (call.rfind("detail:Writing File: ", 0) == 0 && ++writing == 2)
                cancelAt = details;
        }
    ASSERT_GT(cancelAt, 0);
    const std::string earlier = readFile(patch);

    writeFile(base / "newer/b", "changed");
    RecordingSink sink;
    sink.cancelAt("detail", cancelAt);
    EXPECT_EQ(errorOf([&] {
                  tkDiffCreatePatch(&sink, u16(base / "older"), u16(base / "newer"), u16(patch),
                                    u"", u"");
              }),
              "cancelled");
    EXPECT_EQ(readFile(patch), earlier);
    EXPECT_EQ(std::distance(fs::directory_iterator(base.path()), {}), 3)
        << "a temporary file was left";

    copyTree(base / "older", base / "target");
    RecordingSink applySink;
    tkApplyPatch(&applySink, u16(base / "target"), u16(patch), u"", false, false);
    EXPECT_EQ(applySink.statuses().back(), "New fingerprint verified.");
}

TEST(CreatePatch, ReplacesAnExistingReadOnlyPatchFile) {
    TempDir base;
    makeTree(base / "older", {{"a", "1"}});
    makeTree(base / "newer", {{"a", "2"}});
    writeFile(base / "p.tkp", std::string(5000, 'z')); // longer than the new patch
    makeReadOnly(base / "p.tkp");
    diffPatch(base / "older", base / "newer", base / "p.tkp");
    EXPECT_LT(fs::file_size(base / "p.tkp"), 5000u);
    EXPECT_EQ(loadInfo(base / "p.tkp").ChangedFiles, PathList{u"\\a"});
}

} // namespace
