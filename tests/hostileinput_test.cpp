// Patches crafted to attack the target directory, and other inputs found by fuzzing.
#include "patch/creation.h"
#include "patch/patchformat.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace ostmere;
using namespace testing_support;

namespace {

TEST(HostileInput, PatchPathSafety) {
    struct Case {
        std::u16string path;
        bool safe;
    };
    const Case cases[] = {
        {u"\\a", true},
        {u"\\a\\b.txt", true},
        {u"\\..a\\b..", true},
        {u"", false},
        {u"a", false},
        {u"\\", false},
        {u"\\a\\\\b", false},
        {u"\\a\\", false},
        {u"\\.", false},
        {u"\\a\\..", false},
        {u"\\..\\x", false},
        // "/" separates components on the file system, so it could hide a ".." from the check.
        {u"\\a/../../x", false},
        {u"\\..//x", false},
        {u"\\a/b", false},
        {u"/x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSafeRelativePath(c.path), c.safe) << RecordingSink::narrow(c.path);
}

// A patch whose only change is a new directory at `entry`, made against an empty tree.
void writeNewDirPatch(const fs::path& patch, const std::u16string& entry) {
    RecordingSink sink;
    CPatchInfo info;
    info.NewDirs.push_back(entry);
    info.AttributeChanges[entry] = 0x10;
    writePatch(&sink, info, CDirSnapshot{}, u16(patch));
}

TEST(HostileInput, ApplyRefusesSlashTraversal) {
    TempDir tmp;
    makeTree(tmp.path(), {{"target/", ""}, {"target/a/", ""}});
    const fs::path patch = tmp / "evil.tkp";
    writeNewDirPatch(patch, u"\\a/../../escaped");
    RecordingSink sink;
    try {
        tkApplyPatch(&sink, u16(tmp / "target"), u16(patch), u"", true, true);
        FAIL() << "the patch was applied";
    } catch (const CTKErr& e) {
        EXPECT_EQ(RecordingSink::narrow(e.message),
                  "Refusing a patch path that leaves the target directory: \\a/../../escaped");
    }
    EXPECT_FALSE(fs::exists(tmp / "escaped"));
}

} // namespace
