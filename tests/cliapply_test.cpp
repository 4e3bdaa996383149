// `ostmere apply`: exit status and the closing line for each outcome of an application.
#include "clirun.h"
#include "patchsupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// The applying runs are quiet: only the closing line and errors are printed.
CliRun ostmere(const TempDir& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--quiet");
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
    EXPECT_EQ(run.err, "");
}

TEST_F(CliApply, MismatchAfterApplyingExitsThree) {
    CliRun run = ostmere(base, {"apply", base / "target", patch, "--continue-on-errors"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "After patch has been aplied fingerprints do not match.\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(readFile(base / "target/b"), "3"); // the rest was applied
}

TEST_F(CliApply, StoppedRunExitsOneWithTheEngineError) {
    CliRun run = ostmere(base, {"apply", base / "target", patch});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(
        run.err.find("Message: Unable to remove item. " + enginePath(base / "target") + "\\gone\n"),
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

TEST_F(CliApply, DifferentTargetIsRefused) {
    writeFile(base / "target/extra", "not in the patch");
    CliRun run = ostmere(base, {"apply", base / "target", patch});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Trying to apply a patch to dirrectory with different fingerprint."),
              std::string::npos)
        << run.err;
}

} // namespace
