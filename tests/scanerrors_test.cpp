// What a scan cannot read stops it with an error naming the item: nothing unread ever counts as
// removed. And trees deeper than one path the system takes are scanned, not refused.
#include "clirun.h"
#include "patchsupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostmere;
using namespace testing_support;

namespace {

constexpr uid_t kNobody = 65534;
const std::vector<std::string> kAsNobody = {"setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};

// Trees owned by root that an ordinary user may read, except for what a test locks away, and
// an output directory that user may write.
class UnreadableForAUser : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to act as another user";
        fs::permissions(base.path(), fs::perms::owner_all | fs::perms::group_exec |
                                         fs::perms::group_read | fs::perms::others_exec |
                                         fs::perms::others_read);
        makeTree(base / "old", {{"a", "1"}, {"locked/keep", "precious"}, {"open/x", "x"}});
        makeTree(base / "new", {{"a", "2"}, {"locked/keep", "precious"}, {"open/x", "x"}});
        fs::create_directories(base / "out");
        fs::create_directories(base / "scratch");
        ASSERT_EQ(chown((base / "out").c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(chown((base / "scratch").c_str(), kNobody, kNobody), 0);
    }
    CliRun asNobody(const std::vector<std::string>& args) {
        return runCliUnder(kAsNobody, args, base / "scratch");
    }
    TempDir base;
};

TEST_F(UnreadableForAUser, DiffVaultAndFingerprintFailNamingTheDirectory) {
    fs::permissions(base / "new/locked", fs::perms::owner_all);
    const std::string named = "Unable to list a directory: " + (base / "new/locked").string();
    const std::string vault = (base / "out/v.tkv").string();
    RecordingSink sink;
    tkCreateVault(&sink, u16(base / "old"), u"", utf8ToUtf16(vault));
    ASSERT_EQ(chown(vault.c_str(), kNobody, kNobody), 0);
    const std::string vaultBefore = readFile(vault);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"diff", (base / "old").string(), (base / "new").string(),
              (base / "out/p.tkp").string()},
             {"vault", (base / "new").string(), (base / "out/n.tkv").string()},
             {"fingerprint", (base / "new").string()},
             {"diff-vault", (base / "new").string(), vault, (base / "out/q.tkp").string(),
              "--update-vault"}}) {
        SCOPED_TRACE(args[0]);
        CliRun run = asNobody(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    }
    EXPECT_EQ(readFile(vault), vaultBefore);
    EXPECT_EQ(std::distance(fs::directory_iterator(base / "out"), {}), 1)
        << "something was written";
}

// Names that can be listed but not examined (no search permission on their directory).
TEST_F(UnreadableForAUser, UnreadableAttributesAreAnError) {
    fs::permissions(base / "new/open", fs::perms::owner_all | fs::perms::others_read);
    CliRun run = asNobody({"fingerprint", (base / "new").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Unable to read the attributes of: " + (base / "new/open/x").string()),
              std::string::npos)
        << run.err;
}

// A patch that removes nothing meets a target with a directory the user cannot read: the apply
// stops at its first fingerprint, and nothing on the target is touched.
TEST_F(UnreadableForAUser, ApplyToAPartlyUnreadableTargetChangesNothing) {
    diffPatch(base / "old", base / "new", base / "out/p.tkp");
    copyTree(base / "old", base / "target");
    fs::permissions(base / "target/locked", fs::perms::owner_all);
    ASSERT_EQ(chown((base / "target").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chown((base / "target/a").c_str(), kNobody, kNobody), 0);
    const auto before = describeTree(base / "target");
    CliRun run = asNobody({"apply", (base / "target").string(), (base / "out/p.tkp").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Unable to list a directory: "), std::string::npos) << run.err;
    EXPECT_EQ(describeTree(base / "target"), before);
}

// Builds a chain of directories whose full path is longer than PATH_MAX, with one file at the
// bottom, by creating each level relative to the one above.
fs::path makeDeepTree(const fs::path& root, int levels) {
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    fs::path rel;
    for (int i = 0; i < levels; ++i) {
        const std::string name = std::string(200, 'd') + std::to_string(i);
        mkdirat(fd, name.c_str(), 0755);
        int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        rel /= name;
    }
    int file = openat(fd, "deep.txt", O_WRONLY | O_CREAT, 0644);
    EXPECT_EQ(write(file, "deep", 4), 4);
    close(file);
    close(fd);
    return rel / "deep.txt";
}

TEST(DeepTree, PathsLongerThanPathMaxAreScannedHashedAndStored) {
    TempDir base;
    fs::create_directories(base / "old");
    fs::create_directories(base / "new");
    const fs::path rel = makeDeepTree(base / "new", 25);
    ASSERT_GT((base / "new" / rel).string().size(), static_cast<size_t>(PATH_MAX));
    RecordingSink sink;
    const std::u16string fp = tkFingerprint(&sink, u16(base / "new"), u"");
    EXPECT_EQ(fp.size(), 40u);
    diffPatch(base / "old", base / "new", base / "p.tkp");
    const CPatchInfo info = loadInfo(base / "p.tkp");
    ASSERT_EQ(info.NewFiles.size(), 1u);
    EXPECT_EQ(info.NewDirs.size(), 25u);
    EXPECT_EQ(info.NewerTreeID, fp);
    // The stored content is the file's, read through the long path.
    const std::string patch = readFile(base / "p.tkp");
    EXPECT_NE(patch.find("deep"), std::string::npos);

    // Applied, the tree is made again at its full depth and verified.
    fs::create_directories(base / "t");
    tkApplyPatch(&sink, u16(base / "t"), u16(base / "p.tkp"), u"", false, false);
    EXPECT_EQ(sink.statuses().back(), "New fingerprint verified.");
}

} // namespace
