// Applying a patch to a target where one item cannot be removed, created, written or given
// its attributes: without continueOnErrors the run stops with the item's message, with it
// the item is skipped (and missing from the applied report) and nothing else is lost.
#include "patchsupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace ostmere;
using namespace testing_support;

namespace {

bool setImmutable(const fs::path& p, bool on) {
    int fd = open(p.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

// Makes an item impossible to change. Permission bits do not stop root, so as root the item
// is made immutable; otherwise the directory the change happens in is made read-only, which
// changes that directory's attribute word and so the target's fingerprint.
class Lock {
  public:
    // entry: the item itself is to be removed or replaced; otherwise something is to be
    // created inside the directory `p`.
    Lock(const fs::path& p, bool entry) : asRoot_(geteuid() == 0) {
        path_ = asRoot_ || !entry ? p : p.parent_path();
        if (asRoot_)
            held_ = setImmutable(path_, true);
        else
            held_ = (makeReadOnly(path_), true);
    }
    ~Lock() { release(); }
    void release() {
        if (!held_)
            return;
        held_ = false;
        if (asRoot_)
            setImmutable(path_, false);
        else
            makeReadOnly(path_, false);
    }
    bool held() const { return held_; }
    bool changesFingerprint() const { return !asRoot_; }

  private:
    bool asRoot_;
    bool held_ = false;
    fs::path path_;
};

struct Case {
    const char* what;
    std::vector<TreeEntry> older, newer;
    std::string filter;
    // Installs the fault in the target; returns the lock to release, if any.
    std::function<std::unique_ptr<Lock>(const fs::path& target, const fs::path& outside)> fault;
    // Expected message without continueOnErrors; the target's name replaces "T".
    std::string message;
    // Part of the target checked after the stopped run: later phases were not done.
    std::string untouched;
    // With continueOnErrors: "" when the item is skipped, else the message it still stops with.
    std::string tolerantMessage;
    std::vector<std::string> tolerantTree;
    // Report list and path that must be missing from the applied report, and one that must be
    // there.
    std::string list, missing, presentList, present;
};

std::unique_ptr<Lock> lockEntry(const fs::path& p) {
    return std::make_unique<Lock>(p, true);
}

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"file that cannot be removed",
         {{"a", "1"}, {"s/f", "x"}, {"s/g", "y"}},
         {{"a", "2"}, {"s/g", "y"}},
         "",
         [](const fs::path& t, const fs::path&) { return lockEntry(t / "s/f"); },
         "Unable to remove item. T\\s\\f",
         "a=1",
         "",
         {"a=2", "s/", "s/f=x", "s/g=y"},
         "UnlinkedFiles",
         "\\s\\f",
         "ModifyedFiles",
         "\\a"},
        {"directory holding an ignored file",
         {{"a", "1"}, {"gone/f", "x"}, {"gone/keep.tmp", "k"}},
         {{"a", "2"}},
         "*.tmp",
         [](const fs::path&, const fs::path&) { return std::unique_ptr<Lock>(); },
         "Unable to remove item. T\\gone",
         "a=1",
         "",
         {"a=2", "gone/", "gone/keep.tmp=k"},
         "UnlinkedDirs",
         "\\gone",
         "UnlinkedFiles",
         "\\gone\\f"},
        {"directory that cannot be created",
         {{"a", "1"}, {"p/", ""}},
         {{"a", "2"}, {"p/nd/", ""}},
         "",
         [](const fs::path& t, const fs::path&) { return std::make_unique<Lock>(t / "p", false); },
         "Unable to create a directory. T\\p\\nd",
         "a=1",
         "",
         {"a=2", "p/"},
         "NewDirs",
         "\\p\\nd",
         "ModifyedFiles",
         "\\a"},
        {"file that cannot be replaced",
         {{"a", "1"}, {"s/c", "old"}},
         {{"a", "2"}, {"s/c", "new"}},
         "",
         [](const fs::path& t, const fs::path&) { return lockEntry(t / "s/c"); },
         "Unable to remove item. T\\\\s\\c",
         "a=2", // written before it, in path order
         // Extraction failures are not skipped.
         "Unable to remove item. T\\\\s\\c",
         {"a=2", "s/", "s/c=old"},
         "",
         "",
         "",
         ""},
        {"a link where the patch expects a file",
         {{"a", "1"}, {"f", "x"}},
         {{"a", "2"}, {"f", "x"}},
         "",
         [](const fs::path& t, const fs::path& outside) {
             // Even to an equal file, a link is another item: the guard refuses the target
             // before anything could be done through it.
             writeFile(outside / "f", "x");
             fs::remove(t / "f");
             fs::create_symlink(outside / "f", t / "f");
             return std::unique_ptr<Lock>();
         },
         "Trying to apply a patch to dirrectory with different fingerprint.",
         "a=1",
         "Trying to apply a patch to dirrectory with different fingerprint.",
         {"a=1", "f=x"},
         "",
         "",
         "",
         ""},
    };
    return table;
}

std::string withTarget(std::string text, const fs::path& target) {
    for (size_t at = text.find('T'); at != std::string::npos; at = text.find('T', at + 1))
        if (at + 1 < text.size() && text[at + 1] == '\\' && (at == 0 || text[at - 1] == ' '))
            text.replace(at, 1, enginePath(target));
    return text;
}

class Faults : public ::testing::TestWithParam<size_t> {};

TEST_P(Faults, StopOrSkip) {
    const Case& c = cases()[GetParam()];
    for (bool tolerant : {false, true}) {
        SCOPED_TRACE(std::string(c.what) + (tolerant ? ", continueOnErrors" : ""));
        TempDir base;
        makeTree(base / "older", c.older);
        makeTree(base / "newer", c.newer);
        // The attribute case needs a read-only newer file to have a word to set.
        if (std::string(c.what).find("attributes") != std::string::npos)
            makeReadOnly(base / "newer/f");
        diffPatch(base / "older", base / "newer", base / "p.tkp", c.filter);
        copyTree(base / "older", base / "t");
        fs::create_directories(base / "outside");
        auto lock = c.fault(base / "t", base / "outside");
        if (lock && !lock->held())
            GTEST_SKIP() << "running as root, where permission bits do not stop a write, and "
                            "the file system does not let the test make an item immutable";
        const bool ignore = lock && lock->changesFingerprint();

        RecordingSink sink;
        const fs::path report = base / "applied.xml";
        const std::string message = errorOf([&] {
            tkApplyPatch(&sink, u16(base / "t"), u16(base / "p.tkp"), u16(report), tolerant,
                         ignore);
        });
        if (lock)
            lock->release();
        auto tree = describeTree(base / "t");
        if (!tolerant) {
            EXPECT_EQ(message, withTarget(c.message, base / "t"));
            EXPECT_NE(std::find(tree.begin(), tree.end(), c.untouched), tree.end()) << c.untouched;
            EXPECT_FALSE(fs::exists(report));
            continue;
        }
        if (!c.tolerantMessage.empty()) {
            EXPECT_EQ(message, withTarget(c.tolerantMessage, base / "t"));
            EXPECT_EQ(tree, c.tolerantTree);
            continue;
        }
        EXPECT_EQ(message, "no error");
        EXPECT_EQ(tree, c.tolerantTree);
        if (!ignore) {
            EXPECT_EQ(sink.statuses().back(),
                      "After patch has been aplied fingerprints do not match.");
        }
        auto content = readReport(report);
        auto& skipped = content[c.list];
        EXPECT_EQ(std::find(skipped.begin(), skipped.end(), c.missing), skipped.end())
            << c.missing << " in " << c.list;
        auto& done = content[c.presentList];
        EXPECT_NE(std::find(done.begin(), done.end(), c.present), done.end())
            << c.present << " in " << c.presentList;
        // Nothing was done through the link.
        if (fs::exists(base / "outside/f")) {
            EXPECT_EQ(readFile(base / "outside/f"), "x");
            EXPECT_NE(fs::status(base / "outside/f").permissions() & fs::perms::owner_write,
                      fs::perms::none);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Faults, ::testing::Range(size_t(0), cases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             std::string name = cases()[info.param].what;
                             for (auto& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

} // namespace
