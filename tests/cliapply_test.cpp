// `ostmere apply`: exit status and the closing line for each outcome of an application, the
// dry run, and a cancelled run.
#include "clirun.h"
#include "patchsupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace testing_support;

namespace {

// What apply says of a patch when no key is trusted, before anything else.
const std::string kNotAuthenticated =
    "ostmere: notice: the patch is not signed and no key is trusted: it was not authenticated\n";

// stdout and stderr are files, so no progress is shown: only the closing line and errors.
CliRun ostmere(const TempDir& dir, const std::vector<std::string>& arguments) {
    return runCli(arguments, dir.path());
}

class CliApply : public ::testing::Test {
  protected:
    void SetUp() override {
        // The directory \gone keeps an ignored file, so it cannot be removed; with
        // --continue-on-errors the run goes on and ends with a tree that differs from newer.
        makeTree(base / "older", {{"a", "1"}, {"gone/f", "x"}, {"gone/keep.tmp", "k"}});
        makeTree(base / "newer", {{"a", "2"}, {"b", "3"}});
        CliRun diff =
            ostmere(base, {"diff", base / "older", base / "newer", patch, "--filter", "*.tmp"});
        ASSERT_EQ(diff.status, 0) << diff.err;
        copyTree(base / "older", base / "target");
    }

    TempDir base;
    fs::path patch = base / "p.tkp";
};

TEST_F(CliApply, VerifiedFingerprintExitsZero) {
    fs::remove(base / "target/gone/keep.tmp");
    CliRun run = ostmere(base, {"apply", base / "target", patch});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "New fingerprint verified.\n");
    EXPECT_EQ(run.err, kNotAuthenticated);
}

TEST_F(CliApply, MismatchAfterApplyingExitsThree) {
    CliRun run = ostmere(base, {"apply", base / "target", patch, "--continue-on-errors"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, kNotAuthenticated +
                           "ostmere: After patch has been aplied fingerprints do not match.\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(readFile(base / "target/b"), "3"); // the rest was applied
}

TEST_F(CliApply, StoppedRunExitsOneWithTheEngineError) {
    CliRun run = ostmere(base, {"apply", base / "target", patch});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind(kNotAuthenticated + "ostmere: Unable to remove item. " +
                                (base / "target/gone").string(),
                            0),
              0u)
        << run.err;
    // The engine's full text only with --verbose.
    copyTree(base / "older", base / "again");
    run = ostmere(base, {"apply", "--verbose", base / "again", patch});
    EXPECT_NE(
        run.err.find("Message: Unable to remove item. " + enginePath(base / "again") + "\\gone\n"),
        std::string::npos)
        << run.err;
}

TEST_F(CliApply, IgnoredFingerprintEndsWithAppliedOk) {
    writeFile(base / "target/extra", "not in the patch");
    CliRun run = ostmere(
        base, {"apply", base / "target", patch, "--continue-on-errors", "--ignore-fingerprint"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Patch applied ok.\n");
}

TEST_F(CliApply, DifferentTargetIsRefusedWithStatusFour) {
    writeFile(base / "target/extra", "not in the patch");
    const auto before = describeTree(base / "target");
    for (const char* option : {"--verbose", "--dry-run", "--json"}) {
        CliRun run = ostmere(base, {"apply", base / "target", patch, option});
        EXPECT_EQ(run.status, 4) << option;
        EXPECT_NE(run.err.find("ostmere: "), std::string::npos) << run.err;
        EXPECT_EQ(describeTree(base / "target"), before);
    }
    CliRun run = ostmere(base, {"apply", base / "target", patch});
    EXPECT_EQ(run.err, kNotAuthenticated + "ostmere: Trying to apply a patch to dirrectory with "
                                           "different fingerprint.\n");
}

TEST_F(CliApply, DryRunListsTheChangesAndChangesNothing) {
    fs::remove(base / "target/gone/keep.tmp");
    const auto before = describeTree(base / "target");
    CliRun run = ostmere(base, {"apply", "-n", base / "target", patch});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "remove file        gone/f\n"
                       "remove directory   gone\n"
                       "write file         a\n"
                       "write file         b\n"
                       "set attributes     0x20 a\n"
                       "set attributes     0x20 b\n"
                       "Dry run: nothing was changed. The stored contents make the newer tree.\n");
    EXPECT_EQ(describeTree(base / "target"), before);

    run = ostmere(base, {"apply", base / "target", patch, "--dry-run", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* part :
         {"{\"command\":\"apply\",\"dryRun\":true,", "\"targetMatches\":true,",
          "\"contentsVerified\":true,", "\"writeFiles\":[\"a\",\"b\"]",
          "\"setAttributes\":{\"a\":32,\"b\":32}", "\"storedBytes\":2,", "\"exitStatus\":0,"})
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
    EXPECT_EQ(describeTree(base / "target"), before);
}

TEST_F(CliApply, DryRunRefusesStoredContentThatDoesNotMakeTheNewerTree) {
    fs::remove(base / "target/gone/keep.tmp");
    // Same information block, but the stored content of \a is not what the newer tree holds.
    writeCraftedPatch(base / "bad.tkp", loadInfo(patch), {{u"\\a", "X", u""}, {u"\\b", "3", u""}});
    const auto before = describeTree(base / "target");
    CliRun run = ostmere(base, {"apply", "--dry-run", base / "target", base / "bad.tkp"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, kNotAuthenticated +
                           "ostmere: The patch's stored contents do not make its newer tree: " +
                           (base / "bad.tkp").string() + "\n");
    EXPECT_EQ(describeTree(base / "target"), before);
}

TEST_F(CliApply, ReportToStdoutAndJsonOutcome) {
    fs::remove(base / "target/gone/keep.tmp");
    copyTree(base / "target", base / "target2");
    CliRun run = ostmere(base, {"apply", base / "target", patch, "--report", "-"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("<?xml", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("tkDiffPatchReport"), std::string::npos);
    run = ostmere(base, {"--json", "apply", base / "target2", patch});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("{\"command\":\"apply\",", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\"result\":\"verified\""), std::string::npos) << run.out;
    EXPECT_EQ(run.out.back(), '\n');
}

TEST(CliCancel, TerminatedRunExitsOneThirty) {
    // A sparse file large enough that hashing it lasts well beyond the signal; the program
    // must stop inside the file, not after it.
    TempDir dir;
    fs::create_directory(dir / "tree");
    {
        std::ofstream big(dir / "tree/big", std::ios::binary);
        big.seekp((int64_t(16) << 30) - 1);
        big.put('x');
    }
    const fs::path err = dir / "stderr.txt";
    const std::string command = std::string("'") + OSTMERE_CLI + "' fingerprint '" +
                                (dir / "tree").string() + "' 2>'" + err.string() +
                                "' & pid=$!; sleep 0.5; kill -TERM $pid; wait $pid";
    const int raw = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 130);
    EXPECT_EQ(readFile(err), "ostmere: cancelled\n");
}

} // namespace
