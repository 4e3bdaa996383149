// Apply under attack and misfortune: damaged stored content, a directory swapped for a link
// while the run is under way, the process killed at any moment, and read-only directories met
// by an ordinary user.
#include "apply/applyhooks.h"
#include "clirun.h"
#include "patchsupport.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace ostmere;
using namespace testing_support;

namespace {

// Content long enough that a file holding part old, part new bytes would show.
std::string body(const std::string& tag) {
    std::string text;
    while (text.size() < 6000)
        text += tag + ":" + std::to_string(text.size()) + ";";
    return text;
}

bool stagingLeft(const fs::path& target) {
    return fs::exists(fs::symlink_status(target / kStagingArea));
}

// A tree that exercises every phase: removed files and directories, new directories, new and
// changed files (one read-only), attribute changes.
struct Versions {
    std::vector<TreeEntry> older = {{"a", body("old a")},
                                    {"sub/b", body("old b")},
                                    {"sub/gone", body("gone")},
                                    {"dead/x", body("x")},
                                    {"same", body("same")}};
    std::vector<TreeEntry> newer = {{"a", body("new a")},
                                    {"sub/b", body("new b")},
                                    {"sub/nd/c", body("new c")},
                                    {"fresh", body("fresh")},
                                    {"same", body("same")}};
    void make(const fs::path& base) const {
        makeTree(base / "older", older);
        makeTree(base / "newer", newer);
        makeReadOnly(base / "newer/fresh");
        makeReadOnly(base / "newer/same");
        diffPatch(base / "older", base / "newer", base / "p.tkp");
        copyTree(base / "older", base / "t");
    }
};

// ---------------------------------------------------------------------------------------------

class DamagedPatch : public ::testing::Test {
  protected:
    void SetUp() override {
        versions.make(base.path());
        patchBytes = readFile(base / "p.tkp");
    }
    Versions versions;
    TempDir base;
    std::string patchBytes;
};

TEST_F(DamagedPatch, AnyFlippedContentByteIsRefusedWithTheTargetUnchanged) {
    const auto before = describeTree(base / "t");
    const std::string fingerprintBefore = utf16ToUtf8(fingerprintOf(base / "t"));
    // One damaged byte at the start, middle and end of each stored file's content.
    for (const auto& entry : versions.newer) {
        if (entry.path == "same")
            continue; // not stored
        const std::string& content = entry.content;
        const size_t at = patchBytes.find(content);
        ASSERT_NE(at, std::string::npos) << entry.path;
        for (size_t offset : {size_t(0), content.size() / 2, content.size() - 1})
            for (bool tolerant : {false, true}) {
                const std::string what = entry.path + " byte " + std::to_string(offset) +
                                         (tolerant ? ", continueOnErrors" : "");
                std::string damaged = patchBytes;
                damaged[at + offset] ^= 0x20;
                writeFile(base / "bad.tkp", damaged);
                RecordingSink sink;
                const std::string message = errorOf([&] {
                    tkApplyPatch(&sink, u16(base / "t"), u16(base / "bad.tkp"), u"", tolerant,
                                 false);
                });
                EXPECT_EQ(message.rfind("The patch's stored files do not give its newer "
                                        "fingerprint (damaged patch); the directory was not "
                                        "changed: ",
                                        0),
                          0u)
                    << what << ": " << message;
                EXPECT_FALSE(sink.sawStatus("Removing Files.")) << what;
                EXPECT_EQ(describeTree(base / "t"), before) << what;
                EXPECT_FALSE(stagingLeft(base / "t")) << what;
                EXPECT_EQ(utf16ToUtf8(fingerprintOf(base / "t")), fingerprintBefore) << what;
            }
    }
    // The undamaged patch applies.
    RecordingSink sink;
    EXPECT_EQ(errorOf([&] {
                  tkApplyPatch(&sink, u16(base / "t"), u16(base / "p.tkp"), u"", false, false);
              }),
              "no error");
    EXPECT_EQ(describeTree(base / "t"), describeTree(base / "newer"));
    EXPECT_FALSE(stagingLeft(base / "t"));
}

// ---------------------------------------------------------------------------------------------

// Swaps the target's directory "sub" for a link to a directory outside, at the moment apply
// first holds "sub" open and is about to act inside it.
class SwapSubForLink : public CApplyHooks {
  public:
    SwapSubForLink(fs::path target, fs::path outside)
        : target_(std::move(target)), outside_(std::move(outside)) {}
    void beforeAct(const std::u16string& relPath) override {
        if (swapped || relPath.rfind(u"\\sub\\", 0) != 0)
            return;
        swapped = true;
        fs::rename(target_ / "sub", target_ / "sub.away");
        fs::create_directory_symlink(outside_, target_ / "sub");
    }
    bool swapped = false;

  private:
    fs::path target_, outside_;
};

// Everything about the outside directory that a run could change: names, contents, modes.
std::vector<std::string> stateOf(const fs::path& dir) {
    std::vector<std::string> state = describeTree(dir);
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it)
        state.push_back(it->path().filename().string() + " mode " +
                        std::to_string(static_cast<int>(it->symlink_status().permissions())));
    return state;
}

TEST(LinkSwap, NothingOutsideTheTargetChangesWhenADirectoryBecomesALinkMidway) {
    // Each case lets the swap happen before a different phase's first act inside "sub".
    struct Case {
        const char* what;
        std::vector<TreeEntry> older, newer;
    };
    const std::vector<Case> cases = {
        {"file removal", {{"sub/b", "b"}, {"sub/gone", "g"}}, {{"sub/b", "b"}}},
        {"directory removal", {{"sub/b", "b"}, {"sub/d/", ""}}, {{"sub/b", "b"}}},
        {"directory creation", {{"sub/b", "b"}}, {{"sub/b", "b"}, {"sub/nd/", ""}}},
        {"file write", {{"sub/b", "old"}}, {{"sub/b", "new"}}},
        {"attributes", {{"sub/b", "b"}}, {{"sub/b", "b"}}},
    };
    for (const auto& c : cases)
        for (bool tolerant : {false, true}) {
            const std::string what = std::string(c.what) + (tolerant ? ", continueOnErrors" : "");
            TempDir base;
            makeTree(base / "older", c.older);
            makeTree(base / "newer", c.newer);
            if (std::string(c.what) == "attributes")
                makeReadOnly(base / "newer/sub/b");
            diffPatch(base / "older", base / "newer", base / "p.tkp");
            copyTree(base / "older", base / "t");
            // The outside directory holds the same names, so every act would find its item.
            copyTree(base / "older/sub", base / "outside");
            fs::create_directories(base / "outside/d");
            writeFile(base / "outside/gone", "outside");
            const auto outsideBefore = stateOf(base / "outside");

            SwapSubForLink swap(base / "t", base / "outside");
            RecordingSink sink;
            const std::string message = errorOf([&] {
                applyPatchWithHooks(&sink, u16(base / "t"), u16(base / "p.tkp"), u"",
                                    {tolerant, false}, &swap);
            });
            EXPECT_TRUE(swap.swapped) << what;
            EXPECT_EQ(stateOf(base / "outside"), outsideBefore) << what << ": " << message;
            // The directory apply held open was the real one, so the work landed there.
            EXPECT_TRUE(fs::is_directory(fs::symlink_status(base / "t/sub.away"))) << what;
        }
}

TEST(LinkSwap, ALinkInPlaceBeforeTheWalkIsNeverEntered) {
    for (bool tolerant : {false, true}) {
        TempDir base;
        makeTree(base / "older", {{"sub/b", "old"}, {"sub/gone", "g"}});
        makeTree(base / "newer", {{"sub/b", "new"}, {"sub/nd/", ""}});
        diffPatch(base / "older", base / "newer", base / "p.tkp");
        copyTree(base / "older", base / "t");
        copyTree(base / "older/sub", base / "outside");
        const auto outsideBefore = stateOf(base / "outside");
        // Swapped once the patch was checked and staged: the first change meets the link.
        struct SwapOnFirstChange : RecordingSink {
            fs::path target, outside;
            void setStatus(const std::u16string& text) override {
                RecordingSink::setStatus(text);
                if (text == u"Removing Files.") {
                    fs::rename(target / "sub", target / "sub.away");
                    fs::create_directory_symlink(outside, target / "sub");
                }
            }
        } sink;
        sink.target = base / "t";
        sink.outside = base / "outside";
        const std::string message = errorOf([&] {
            tkApplyPatch(&sink, u16(base / "t"), u16(base / "p.tkp"), u"", tolerant, false);
        });
        if (!tolerant) {
            EXPECT_EQ(message.rfind("Refusing to follow a symbolic link inside the target", 0), 0u)
                << message;
        }
        EXPECT_EQ(stateOf(base / "outside"), outsideBefore) << message;
    }
}

// ---------------------------------------------------------------------------------------------

// Counts the sink calls of a run and kills the process at the n-th.
class KillingSink : public CProgressSink {
  public:
    explicit KillingSink(int killAt) : killAt_(killAt), buffer_(4096) {}
    uint32_t getBufferSize() override { return static_cast<uint32_t>(buffer_.size()); }
    uint8_t* getBuffer() override { return buffer_.data(); }
    void setStatus(const std::u16string&) override { tick(); }
    void setDetail(const std::u16string&) override { tick(); }
    void showMessage(const std::u16string&) override { tick(); }
    void setProgressRange(uint32_t) override { tick(); }
    void resetProgress() override { tick(); }
    void stepProgress() override { tick(); }
    int calls = 0;

  private:
    void tick() {
        if (++calls == killAt_)
            raise(SIGKILL);
    }
    int killAt_;
    std::vector<uint8_t> buffer_;
};

// Runs the apply in a child process killed at its n-th sink call (never, for 0); returns the
// number of sink calls a complete run makes.
int applyInChild(const fs::path& target, const fs::path& patch, int killAt) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        KillingSink sink(killAt);
        int status = 0;
        try {
            tkApplyPatch(&sink, u16(target), u16(patch), u"", false, false);
        } catch (...) {
            status = 1;
        }
        if (write(pipeFds[1], &sink.calls, sizeof sink.calls) != sizeof sink.calls)
            status = 2;
        _exit(status);
    }
    close(pipeFds[1]);
    int calls = -1;
    if (read(pipeFds[0], &calls, sizeof calls) != sizeof calls)
        calls = -1;
    close(pipeFds[0]);
    int status;
    waitpid(pid, &status, 0);
    return calls;
}

// Every file is wholly its older or its newer content, or absent.
void expectNoMixedFile(const fs::path& target, const Versions& v, const std::string& what) {
    std::map<std::string, std::set<std::string>> allowed;
    for (const auto& e : v.older)
        allowed[e.path].insert(e.content);
    for (const auto& e : v.newer)
        allowed[e.path].insert(e.content);
    for (auto it = fs::recursive_directory_iterator(target);
         it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(target).string();
        if (rel.rfind(kStagingArea, 0) == 0 || !it->is_regular_file())
            continue;
        EXPECT_TRUE(allowed[rel].count(readFile(it->path())))
            << what << ": " << rel << " holds neither its old nor its new content";
    }
}

TEST(KilledApply, RerunningTheSameCommandFinishesItAtEveryMoment) {
    const Versions versions;
    TempDir base;
    versions.make(base.path());
    const std::u16string newer = fingerprintOf(base / "newer");
    const int total = applyInChild(base / "t", base / "p.tkp", 0);
    ASSERT_GT(total, 20);
    ASSERT_EQ(fingerprintOf(base / "t"), newer);

    // About thirty kills spread over the whole run, the last sink call included.
    const int stride = std::max(1, total / 30);
    int kills = 0;
    for (int n = 1; n <= total; n += (n + stride > total && n != total) ? total - n : stride) {
        const std::string what =
            "killed at sink call " + std::to_string(n) + " of " + std::to_string(total);
        fs::remove_all(base / "t");
        copyTree(base / "older", base / "t");
        EXPECT_EQ(applyInChild(base / "t", base / "p.tkp", n), -1) << what; // it died
        ++kills;
        expectNoMixedFile(base / "t", versions, what);
        CliRun again = runCli(
            {"--quiet", "apply", (base / "t").string(), (base / "p.tkp").string()}, base.path());
        EXPECT_EQ(again.status, 0) << what << ": " << again.err;
        EXPECT_EQ(fingerprintOf(base / "t"), newer) << what;
        EXPECT_EQ(describeTree(base / "t"), describeTree(base / "newer")) << what;
        EXPECT_FALSE(stagingLeft(base / "t")) << what;
    }
    EXPECT_GE(kills, 30);
}

TEST(KilledApply, AnotherPatchIsRefusedUntilTheInterruptedOneIsFinished) {
    const Versions versions;
    TempDir base;
    versions.make(base.path());
    // A second patch from the same older tree to another newer one.
    makeTree(base / "other", {{"a", "other"}});
    diffPatch(base / "older", base / "other", base / "q.tkp");
    // Killed inside "Restoring files.": the journal is in place and the target partly changed.
    // A recording sink sees the same calls, in the same order, as the killing one counts.
    int killAt = 0;
    {
        TempDir scratch;
        copyTree(base / "older", scratch / "t");
        RecordingSink recorder;
        tkApplyPatch(&recorder, u16(scratch / "t"), u16(base / "p.tkp"), u"", false, false);
        for (size_t i = 0; i < recorder.calls.size(); ++i)
            if (recorder.calls[i] == "status:Restoring files.")
                killAt = static_cast<int>(i) + 4; // then range, step, detail of the first file
    }
    ASSERT_GT(killAt, 0);
    applyInChild(base / "t", base / "p.tkp", killAt);
    ASSERT_TRUE(stagingLeft(base / "t"));

    CliRun other = runCli({"apply", (base / "t").string(), (base / "q.tkp").string()}, base.path());
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("The directory holds an interrupted apply of another patch"),
              std::string::npos)
        << other.err;
    EXPECT_NE(other.err.find("apply that patch to it again to finish"), std::string::npos);

    CliRun same = runCli({"apply", (base / "t").string(), (base / "p.tkp").string()}, base.path());
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(describeTree(base / "t"), describeTree(base / "newer"));
    EXPECT_FALSE(stagingLeft(base / "t"));
}

// ---------------------------------------------------------------------------------------------

// Runs the program as the unprivileged user 65534, for whom permission bits count.
CliRun runCliAsNobody(const std::vector<std::string>& args, const fs::path& scratch) {
    std::vector<std::string> all = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                    OSTMERE_CLI};
    all.insert(all.end(), args.begin(), args.end());
    const fs::path outPath = scratch / "stdout", errPath = scratch / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    CliRun run;
    pid_t pid;
    if (posix_spawnp(&pid, "setpriv", &actions, nullptr, argv.data(), environ) == 0) {
        int status;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

void giveToNobody(const fs::path& root) {
    ASSERT_EQ(lchown(root.c_str(), 65534, 65534), 0);
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it)
        ASSERT_EQ(lchown(it->path().c_str(), 65534, 65534), 0);
}

TEST(ReadOnlyDirectories, DoNotStopAnOrdinaryUser) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the program as another user";
    for (bool readOnlyRoot : {false, true}) {
        const std::string what = readOnlyRoot ? "read-only target too" : "read-only directory";
        TempDir base;
        fs::permissions(base.path(),
                        fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        // "ro" has no write bits in both trees (attribute word 0x11); inside it a file is
        // removed, one replaced, one added, and a directory created.
        makeTree(base / "older", {{"ro/gone", "g"}, {"ro/f", "old"}, {"ro/keep", "k"}, {"x", "1"}});
        makeTree(base / "newer",
                 {{"ro/f", "new"}, {"ro/keep", "k"}, {"ro/add", "a"}, {"ro/nd/", ""}, {"x", "2"}});
        makeReadOnly(base / "older/ro");
        makeReadOnly(base / "newer/ro");
        diffPatch(base / "older", base / "newer", base / "p.tkp");
        copyTree(base / "older", base / "t");
        giveToNobody(base / "t");
        if (readOnlyRoot)
            makeReadOnly(base / "t");
        const auto rootMode = fs::status(base / "t").permissions();
        fs::create_directories(base / "run");
        giveToNobody(base / "run");

        CliRun run = runCliAsNobody(
            {"--quiet", "apply", (base / "t").string(), (base / "p.tkp").string()}, base / "run");
        EXPECT_EQ(run.status, 0) << what << ": " << run.err;
        EXPECT_EQ(fingerprintOf(base / "t"), fingerprintOf(base / "newer")) << what;
        EXPECT_EQ(describeTree(base / "t"), describeTree(base / "newer")) << what;
        EXPECT_EQ(fs::status(base / "t").permissions(), rootMode) << what;
        EXPECT_FALSE(stagingLeft(base / "t")) << what;
    }
}

} // namespace
