// A tree that changes between the scan and the storing of its files: the patch ships exactly
// the bytes its fingerprint describes, or there is no new patch at all.
#include "patch/creation.h"
#include "patchsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

using namespace ostmere;
using namespace testing_support;

namespace {

class CActionHook final : public CCreationHook {
  public:
    explicit CActionHook(std::function<void()> action) : action_(std::move(action)) {}
    void beforeStore() override { action_(); }

  private:
    std::function<void()> action_;
};

std::string applyTo(const fs::path& target, const fs::path& patch) {
    RecordingSink sink;
    tkApplyPatch(&sink, u16(target), u16(patch), u"", false, false);
    return sink.statuses().back();
}

size_t entriesIn(const fs::path& dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
}

struct Change {
    const char* name;
    std::function<void(const fs::path& newer)> apply;
    const char* error; // start of the message; empty when the patch stays sound
};

const std::vector<Change> kChanges = {
    {"same size, other bytes", [](const fs::path& n) { writeFile(n / "f", "NEW2"); },
     "A file changed while the patch was being made: "},
    {"grown", [](const fs::path& n) { writeFile(n / "f", "new2 and more"); },
     "A file changed while the patch was being made: "},
    {"truncated", [](const fs::path& n) { writeFile(n / "f", ""); },
     "A file changed while the patch was being made: "},
    {"removed", [](const fs::path& n) { fs::remove(n / "f"); }, "Unable to ioen file:"},
    // A file the patch does not ship may change: the patch still describes the scanned tree.
    {"unshipped file edited", [](const fs::path& n) { writeFile(n / "same", "edited"); }, ""},
};

class StoreRace : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(base / "older", {{"f", "old1"}, {"same", "s"}});
        makeTree(base / "newer", {{"f", "new2"}, {"same", "s"}, {"g", "added"}});
        // An earlier, complete patch at the path: a failed run must leave it as it was.
        makeTree(base / "out", {});
        writeFile(patch, "earlier patch");
    }
    TempDir base;
    fs::path patch = base / "out/p.tkp";
};

TEST_F(StoreRace, DiffFailsOrShipsWhatItHashed) {
    for (const auto& change : kChanges) {
        SCOPED_TRACE(change.name);
        makeTree(base / "newer", {{"f", "new2"}, {"same", "s"}});
        writeFile(patch, "earlier patch");
        CActionHook hook([&] { change.apply(base / "newer"); });
        RecordingSink sink;
        const std::string error = errorOf([&] {
            diffCreatePatch(&sink, u16(base / "older"), u16(base / "newer"), u16(patch), u"", u"",
                            &hook);
        });
        if (*change.error) {
            EXPECT_EQ(error.rfind(change.error, 0), 0u) << error;
            EXPECT_NE(error.find(enginePath(base / "newer/f")), std::string::npos) << error;
            EXPECT_EQ(readFile(patch), "earlier patch");
            EXPECT_EQ(entriesIn(base / "out"), 1u) << "a temporary file was left";
            continue;
        }
        EXPECT_EQ(error, "no error");
        fs::remove_all(base / "target");
        copyTree(base / "older", base / "target");
        EXPECT_EQ(applyTo(base / "target", patch), "New fingerprint verified.");
    }
}

// With --update-vault the vault is rewritten only after every stored file matched its id.
TEST_F(StoreRace, VaultIsNotBroughtForwardPastBytesNeverShipped) {
    const fs::path vault = base / "out/state.tkv";
    RecordingSink vaultSink;
    tkCreateVault(&vaultSink, u16(base / "older"), u"", u16(vault));
    const std::string before = readFile(vault);
    CActionHook hook([&] { writeFile(base / "newer/f", "NEW2"); });
    RecordingSink sink;
    const std::string error = errorOf([&] {
        createPatchVault(&sink, u16(base / "newer"), u16(patch), u16(vault), u"", true, &hook);
    });
    EXPECT_EQ(error.rfind("A file changed while the patch was being made: ", 0), 0u) << error;
    EXPECT_EQ(readFile(vault), before);
    EXPECT_EQ(readFile(patch), "earlier patch");

    // The next run sees the tree as it is now, and its patch fits a copy of the older tree.
    tkCreatePatchVault(&sink, u16(base / "newer"), u16(patch), u16(vault), u"", true);
    copyTree(base / "older", base / "target");
    EXPECT_EQ(applyTo(base / "target", patch), "New fingerprint verified.");
    EXPECT_EQ(describeTree(base / "target"), describeTree(base / "newer"));
}

// Files rewritten all the time while patches are made: every run either fails with the
// engine's error or writes a patch that applies and verifies.
TEST_F(StoreRace, ConcurrentWriterNeverYieldsAMismatchedPatch) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (unsigned i = 0; !stop; ++i)
            writeFile(base / "newer/f", std::string(1 + i % 7000, static_cast<char>('a' + i % 26)));
    });
    int failed = 0, verified = 0;
    for (int run = 0; run < 12; ++run) {
        RecordingSink sink;
        std::string error = errorOf([&] {
            tkDiffCreatePatch(&sink, u16(base / "older"), u16(base / "newer"), u16(patch), u"",
                              u"");
        });
        if (error != "no error") {
            ++failed;
            continue;
        }
        fs::remove_all(base / "target");
        copyTree(base / "older", base / "target");
        EXPECT_EQ(applyTo(base / "target", patch), "New fingerprint verified.");
        ++verified;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(failed + verified, 12);
}

} // namespace
