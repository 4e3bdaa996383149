// Where patches, reports and vaults may be written, and how: never over something that is not
// a regular file, never as one file in two roles or inside a tree in use, and always whole.
#include "core/outputpath.h"
#include "patchsupport.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace ostmere;
using namespace testing_support;

namespace {

// Every entry below root with its kind, and the content of regular files and links.
std::vector<std::string> inventory(const fs::path& root) {
    std::vector<std::string> lines;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path rel = fs::relative(it->path(), root);
        const auto status = it->symlink_status();
        std::string line = rel.string() + " " + std::to_string(static_cast<int>(status.type()));
        if (fs::is_symlink(status))
            line += " -> " + fs::read_symlink(it->path()).string();
        else if (fs::is_regular_file(status))
            line += " = " + readFile(it->path());
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct OutputCase {
    const char* name;
    std::function<void(const fs::path& base)> setup;
    std::function<void(const fs::path& base)> run;
    const char* error; // start of the expected message
};

std::u16string at(const fs::path& base, const char* rel) {
    return u16(base / rel);
}

void diff(const fs::path& b, const char* patch, const char* report = "") {
    RecordingSink sink;
    tkDiffCreatePatch(&sink, at(b, "old"), at(b, "new"), at(b, patch),
                      *report ? at(b, report) : u"", u"");
}

const char* kNotRegular = "Refusing to write over an item that is not a regular file: ";
const char* kTwoRoles = "Refusing to use one file in two roles: ";
const char* kInside = "Refusing to write a file inside a directory tree in use: ";

const std::vector<OutputCase> kCases = {
    {"patch on a device node",
     [](const fs::path& b) {
         ASSERT_EQ(mknod((b / "dev").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
     },
     [](const fs::path& b) { diff(b, "dev"); }, kNotRegular},
    {"patch on a named pipe",
     [](const fs::path& b) { ASSERT_EQ(mkfifo((b / "fifo").c_str(), 0644), 0); },
     [](const fs::path& b) { diff(b, "fifo"); }, kNotRegular},
    {"patch on a directory", [](const fs::path& b) { writeFile(b / "dir/inside", "x"); },
     [](const fs::path& b) { diff(b, "dir"); }, kNotRegular},
    {"report through a link to a pipe",
     [](const fs::path& b) {
         ASSERT_EQ(mkfifo((b / "fifo").c_str(), 0644), 0);
         fs::create_symlink("fifo", b / "link");
     },
     [](const fs::path& b) { diff(b, "p.tkp", "link"); }, kNotRegular},
    {"patch through a dangling link",
     [](const fs::path& b) { fs::create_symlink("nowhere", b / "link"); },
     [](const fs::path& b) { diff(b, "link"); }, kNotRegular},
    {"patch is a file of the older tree", [](const fs::path&) {},
     [](const fs::path& b) { diff(b, "old/notes.txt"); }, kInside},
    {"patch new in the newer tree", [](const fs::path&) {},
     [](const fs::path& b) { diff(b, "new/sub/p.tkp"); }, kInside},
    {"report inside the newer tree through a link",
     [](const fs::path& b) { fs::create_directory_symlink("new/sub", b / "alias"); },
     [](const fs::path& b) { diff(b, "p.tkp", "alias/r.xml"); }, kInside},
    {"patch and report the same file", [](const fs::path&) {},
     [](const fs::path& b) { diff(b, "p.tkp", "p.tkp"); }, kTwoRoles},
    {"report a link to the patch",
     [](const fs::path& b) { fs::create_symlink("p.tkp", b / "r.xml"); },
     [](const fs::path& b) { diff(b, "p.tkp", "r.xml"); }, kTwoRoles},
    {"query report is the patch", [](const fs::path&) {},
     [](const fs::path& b) {
         RecordingSink sink;
         tkQuerryPatch(&sink, at(b, "p.tkp"), at(b, "p.tkp"));
     },
     kTwoRoles},
    {"query report is a device",
     [](const fs::path& b) {
         ASSERT_EQ(mknod((b / "dev").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
     },
     [](const fs::path& b) {
         RecordingSink sink;
         tkQuerryPatch(&sink, at(b, "p.tkp"), at(b, "dev"));
     },
     kNotRegular},
    {"apply report is the patch", [](const fs::path&) {},
     [](const fs::path& b) {
         RecordingSink sink;
         tkApplyPatch(&sink, at(b, "old"), at(b, "p.tkp"), at(b, "p.tkp"), false, false);
     },
     kTwoRoles},
    {"apply report inside the target", [](const fs::path&) {},
     [](const fs::path& b) {
         RecordingSink sink;
         tkApplyPatch(&sink, at(b, "old"), at(b, "p.tkp"), at(b, "old/r.xml"), false, false);
     },
     kInside},
    {"vault update onto the patch path", [](const fs::path&) {},
     [](const fs::path& b) {
         RecordingSink sink;
         tkCreatePatchVault(&sink, at(b, "new"), at(b, "v.tkv"), at(b, "v.tkv"), u"", true);
     },
     kTwoRoles},
    {"patch is the vault read", [](const fs::path&) {},
     [](const fs::path& b) {
         RecordingSink sink;
         tkCreatePatchVault(&sink, at(b, "new"), at(b, "v.tkv"), at(b, "v.tkv"), u"", false);
     },
     kTwoRoles},
    {"vault of a tree written into it", [](const fs::path&) {},
     [](const fs::path& b) {
         RecordingSink sink;
         tkCreateVault(&sink, at(b, "old"), u"", at(b, "old/notes.txt"));
     },
     kInside},
    {"vault on a directory", [](const fs::path& b) { fs::create_directory(b / "vdir"); },
     [](const fs::path& b) {
         RecordingSink sink;
         tkCreateVault(&sink, at(b, "old"), u"", at(b, "vdir"));
     },
     kNotRegular},
};

class OutputPaths : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(base / "old", {{"notes.txt", "my notes"}, {"a", "1"}});
        makeTree(base / "new", {{"notes.txt", "my notes"}, {"a", "2"}, {"sub/b", "b"}});
        diff(base.path(), "p.tkp");
        RecordingSink sink;
        tkCreateVault(&sink, u16(base / "old"), u"", u16(base / "v.tkv"));
    }
    TempDir base;
};

TEST_F(OutputPaths, RefusedCasesDestroyNothing) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir scratch;
        fs::copy(base.path(), scratch.path(), fs::copy_options::recursive);
        c.setup(scratch.path());
        const auto before = inventory(scratch.path());
        const std::string error = errorOf([&] { c.run(scratch.path()); });
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_EQ(inventory(scratch.path()), before);
    }
}

TEST_F(OutputPaths, LinkToARegularFileIsWrittenThroughAndStaysALink) {
    writeFile(base / "real.tkp", "earlier");
    fs::create_symlink("real.tkp", base / "link.tkp");
    diff(base.path(), "link.tkp");
    EXPECT_TRUE(fs::is_symlink(base / "link.tkp"));
    // The same patch as the fixture's, but for its creation date and analysis time.
    const CPatchInfo written = loadInfo(base / "real.tkp"), expected = loadInfo(base / "p.tkp");
    EXPECT_EQ(written.NewerTreeID, expected.NewerTreeID);
    EXPECT_EQ(written.OlderTreeID, expected.OlderTreeID);
    EXPECT_EQ(written.NewFiles, expected.NewFiles);
    EXPECT_EQ(written.ChangedFiles, expected.ChangedFiles);
}

// A rewritten vault keeps its mode (a private vault stays private) and its link.
TEST_F(OutputPaths, RewrittenVaultKeepsItsModeAndLink) {
    fs::rename(base / "v.tkv", base / "real.tkv");
    fs::permissions(base / "real.tkv", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("real.tkv", base / "v.tkv");
    RecordingSink sink;
    tkCreatePatchVault(&sink, u16(base / "new"), u16(base / "q.tkp"), u16(base / "v.tkv"), u"",
                       true);
    EXPECT_TRUE(fs::is_symlink(base / "v.tkv"));
    EXPECT_EQ(fs::status(base / "real.tkv").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_NE(readFile(base / "real.tkv").find("sub\\b"), std::string::npos);
}

pid_t finishedProcess() {
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

TEST(TemporaryNames, OnlyOursOfAGoneWriterAreAbandoned) {
    const std::string mine = temporaryName("p.tkp", 0);
    EXPECT_FALSE(isAbandonedTemporary(mine)) << "this process still writes it";
    std::string gone = mine;
    const std::string pid = std::to_string(getpid());
    gone.replace(gone.find("~" + pid + "~"), pid.size() + 2,
                 "~" + std::to_string(finishedProcess()) + "~");
    EXPECT_TRUE(isAbandonedTemporary(gone)) << gone;
    for (const std::string& other :
         {std::string("p.tkp"), std::string(".p.tkp.part"), gone.substr(1), gone + ".x",
          std::string(".x.ostmere~~1~0.part")})
        EXPECT_FALSE(isAbandonedTemporary(other)) << other;
}

// Temporary files of writers that are gone, in this form and in the one earlier versions left
// beside vaults, are cleared by the next write into the directory; a live writer's are kept.
TEST_F(OutputPaths, AbandonedTemporaryFilesAreClearedOnTheNextWrite) {
    const std::string gone = std::to_string(finishedProcess());
    const std::string live = std::to_string(getpid());
    std::string abandoned = temporaryName("other.tkp", 3);
    abandoned.replace(abandoned.find("~" + live + "~"), live.size() + 2, "~" + gone + "~");
    for (const std::string& name :
         {abandoned, "v.tkv.part" + gone + "-0", "v.tkv.part" + live + "-0",
          std::string("v.tkv.partial"), std::string("keep.part")})
        writeFile(base / name, "left");
    RecordingSink sink;
    tkCreateVault(&sink, u16(base / "new"), u"", u16(base / "v.tkv"));
    EXPECT_FALSE(fs::exists(base / abandoned));
    EXPECT_FALSE(fs::exists(base / ("v.tkv.part" + gone + "-0")));
    for (const std::string& kept :
         {"v.tkv.part" + live + "-0", std::string("v.tkv.partial"), std::string("keep.part")})
        EXPECT_TRUE(fs::exists(base / kept)) << kept;
}

// The program killed while it writes a patch: the earlier patch survives whole, and the next
// run in that directory clears away what the killed one left.
TEST_F(OutputPaths, KilledWriterKeepsTheEarlierPatch) {
    // Large enough that writing it takes far longer than noticing that it has begun.
    {
        std::ofstream big(base / "new/big", std::ios::binary);
        std::string chunk(1 << 20, 'z');
        for (int i = 0; i < 192; ++i)
            big << chunk;
    }
    const std::string earlier = readFile(base / "p.tkp");
    const std::vector<std::string> args = {OSTMERE_CLI, "diff", (base / "old").string(),
                                           (base / "new").string(), (base / "p.tkp").string()};
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, OSTMERE_CLI, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    auto temporaries = [&] {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(base.path()))
            if (e.path().filename().string().find(".ostmere~") != std::string::npos)
                found.push_back(e.path());
        return found;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (temporaries().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer finished before it could be killed";
    EXPECT_EQ(readFile(base / "p.tkp"), earlier);
    EXPECT_EQ(temporaries().size(), 1u);

    fs::remove(base / "new/big");
    diff(base.path(), "p.tkp");
    EXPECT_TRUE(temporaries().empty());
    copyTree(base / "old", base / "target");
    RecordingSink sink;
    tkApplyPatch(&sink, u16(base / "target"), u16(base / "p.tkp"), u"", false, false);
    EXPECT_EQ(sink.statuses().back(), "New fingerprint verified.");
}

} // namespace
