// Patches that try to reach outside the target, or through a link inside it.
#include "patchsupport.h"

#include <gtest/gtest.h>

using namespace ostmere;
using namespace testing_support;

namespace {

// Paths that are not a relative path inside the tree. The first two resolve to the sentinel
// file next to the target.
const std::vector<std::u16string> kBadPaths = {
    u"\\..\\x", u"\\a\\..\\..\\x", u"", u"x", u"\\a\\.\\b", u"\\a\\\\b", u"\\", u"\\a/../../x"};

enum class Place {
    unlinkedFiles,
    unlinkedDirectories,
    newDirs,
    changedFiles,
    newFiles,
    attributeKey,
    fileTableOnly,
    fileRecordOnly,
    ignoredNew,
    ignoredOld,
};

const std::vector<std::pair<Place, const char*>> kPlaces = {
    {Place::unlinkedFiles, "UnlinkedFiles"},
    {Place::unlinkedDirectories, "UnlinkedDirectories"},
    {Place::newDirs, "NewDirs"},
    {Place::changedFiles, "ChangedFiles"},
    {Place::newFiles, "NewFiles"},
    {Place::attributeKey, "AttributeChanges key"},
    {Place::fileTableOnly, "file table entry"},
    {Place::fileRecordOnly, "file record"},
    {Place::ignoredNew, "ignoredNew"},
    {Place::ignoredOld, "ignoredOld"},
};

class HostilePatch : public ::testing::Test {
  protected:
    void SetUp() override { resetTarget(); }
    void resetTarget() {
        fs::remove_all(target);
        makeTree(target, {{"keep", "k"}, {"victim", "v"}, {"a/inner", "i"}, {"empty/", ""}});
        writeFile(base / "x", "sentinel");
    }
    // Everything around and inside the target but the patch itself.
    std::vector<std::string> surroundings() {
        auto tree = describeTree(base.path());
        std::erase_if(tree, [](const std::string& line) { return line.rfind("p.tkp", 0) == 0; });
        return tree;
    }

    // A patch that also holds harmless work ahead of the bad path, so that an engine acting
    // item by item would already have changed the target when it meets the bad one.
    void craft(Place place, const std::u16string& bad) {
        CPatchInfo info;
        info.OlderTreeID = fingerprintOf(target);
        info.NewerTreeID = newerID;
        info.UnlinkedFiles = {u"\\keep"};
        info.UnlinkedDirectories = {u"\\empty"};
        info.NewDirs = {u"\\nd"};
        info.ChangedFiles = {u"\\victim"};
        info.AttributeChanges = {{u"\\victim", 0x21}};
        std::vector<StoredFile> files = {{u"\\victim", "overwritten", u""}};
        switch (place) {
        case Place::unlinkedFiles:
            info.UnlinkedFiles.push_back(bad);
            break;
        case Place::unlinkedDirectories:
            info.UnlinkedDirectories.push_back(bad);
            break;
        case Place::newDirs:
            info.NewDirs.push_back(bad);
            break;
        case Place::changedFiles:
            info.ChangedFiles.push_back(bad);
            files.push_back({bad, "evil", bad});
            break;
        case Place::newFiles:
            info.NewFiles.push_back(bad);
            files.push_back({bad, "evil", bad});
            break;
        case Place::attributeKey:
            info.AttributeChanges[bad] = 0x21;
            break;
        case Place::fileTableOnly:
            files.push_back({bad, "evil", bad});
            break;
        case Place::fileRecordOnly:
            files[0].path = bad; // the table still names \victim
            break;
        case Place::ignoredNew:
            info.ignoredNew.push_back(bad);
            break;
        case Place::ignoredOld:
            info.ignoredOld.push_back(bad);
            break;
        }
        writeCraftedPatch(patch, info, files);
    }

    TempDir base;
    fs::path target = base / "t";
    fs::path patch = base / "p.tkp";
    std::u16string newerID = u"0000000000000000000000000000000000000000";
};

TEST_F(HostilePatch, RefusedBeforeAnythingChanges) {
    for (const auto& [place, where] : kPlaces)
        for (const auto& bad : kBadPaths)
            for (bool tolerant : {false, true}) {
                const std::string what =
                    std::string(where) + " holding \"" + utf16ToUtf8(bad) + "\"" +
                    (tolerant ? " with continueOnErrors and ignoreFingerprint" : "");
                resetTarget();
                craft(place, bad);
                const auto before = surroundings();
                RecordingSink sink;
                const std::string message = errorOf(
                    [&] { tkApplyPatch(&sink, u16(target), u16(patch), u"", tolerant, tolerant); });
                const bool refused =
                    message.rfind("Refusing a patch path that leaves the target directory: ", 0) ==
                        0 ||
                    message.rfind("The patch's file table does not match", 0) == 0;
                EXPECT_TRUE(refused) << what << ": " << message;
                EXPECT_EQ(surroundings(), before) << what;
                EXPECT_EQ(readFile(base / "x"), "sentinel") << what;
            }
}

// The same hand-made patch with only good paths is applied, so the refusals above are the
// paths' doing.
TEST_F(HostilePatch, CraftedPatchWithGoodPathsApplies) {
    // Apply checks the outcome before it changes anything, so the patch names the right one.
    makeTree(base / "expected", {{"a/inner", "i"}, {"nd/", ""}, {"victim", "overwritten"}});
    makeReadOnly(base / "expected/victim");
    newerID = fingerprintOf(base / "expected");
    fs::remove_all(base / "expected");
    craft(Place::ignoredOld, u"\\fine");
    RecordingSink sink;
    EXPECT_EQ(errorOf([&] { tkApplyPatch(&sink, u16(target), u16(patch), u"", false, false); }),
              "no error");
    EXPECT_EQ(describeTree(target),
              (std::vector<std::string>{"a/", "a/inner=i", "nd/", "victim=overwritten +ro"}));
}

// A link inside the target that points outside it: nothing may act through it.
class LinkInTarget : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(base / "outside", {{"x", "outside file"}, {"sub/y", "y"}});
        writeFile(base / "outfile", "outside single file");
        makeTree(target, {{"real", "r"}});
        fs::create_directory_symlink(base / "outside", target / "ln");
        fs::create_symlink(base / "outfile", target / "lf");
    }
    std::vector<std::string> outside() {
        auto tree = describeTree(base / "outside");
        tree.push_back(readFile(base / "outfile"));
        tree.push_back(
            std::to_string(static_cast<int>(fs::status(base / "outfile").permissions())));
        tree.push_back(
            std::to_string(static_cast<int>(fs::status(base / "outside/x").permissions())));
        return tree;
    }

    TempDir base;
    fs::path target = base / "t";
    fs::path patch = base / "p.tkp";
};

TEST_F(LinkInTarget, NothingIsDoneThroughTheLink) {
    struct Case {
        const char* what;
        std::function<void(CPatchInfo&, std::vector<StoredFile>&)> fill;
        bool mayApply; // acting on the link itself is allowed
    };
    const std::vector<Case> cases = {
        {"changed file below the link",
         [](CPatchInfo& i, auto& f) {
             i.ChangedFiles = {u"\\ln\\x"};
             f = {{u"\\ln\\x", "evil", u""}};
         },
         false},
        {"new file below the link",
         [](CPatchInfo& i, auto& f) {
             i.NewFiles = {u"\\ln\\new"};
             f = {{u"\\ln\\new", "evil", u""}};
         },
         false},
        {"new file deeper below the link",
         [](CPatchInfo& i, auto& f) {
             i.NewFiles = {u"\\ln\\sub\\new"};
             f = {{u"\\ln\\sub\\new", "evil", u""}};
         },
         false},
        {"removed file below the link",
         [](CPatchInfo& i, auto&) { i.UnlinkedFiles = {u"\\ln\\x"}; }, false},
        {"removed directory below the link",
         [](CPatchInfo& i, auto&) {
             i.UnlinkedFiles = {u"\\ln\\sub\\y"};
             i.UnlinkedDirectories = {u"\\ln\\sub"};
         },
         false},
        {"new directory below the link", [](CPatchInfo& i, auto&) { i.NewDirs = {u"\\ln\\nd"}; },
         false},
        {"attributes below the link",
         [](CPatchInfo& i, auto&) {
             i.AttributeChanges = {{u"\\ln\\x", 0x21}};
         },
         false},
        {"attributes of the file link",
         [](CPatchInfo& i, auto&) {
             i.AttributeChanges = {{u"\\lf", 0x21}};
         },
         false},
        {"attributes of the directory link",
         [](CPatchInfo& i, auto&) {
             i.AttributeChanges = {{u"\\ln", 0x11}};
         },
         false},
        {"file written where the file link is",
         [](CPatchInfo& i, auto& f) {
             i.ChangedFiles = {u"\\lf"};
             f = {{u"\\lf", "replaces the link", u""}};
         },
         true},
        {"file link removed", [](CPatchInfo& i, auto&) { i.UnlinkedFiles = {u"\\lf"}; }, true},
        {"directory link removed", [](CPatchInfo& i, auto&) { i.UnlinkedDirectories = {u"\\ln"}; },
         true},
    };
    const auto outsideBefore = outside();
    for (const auto& c : cases)
        for (bool tolerant : {false, true}) {
            // Each case starts from the same target.
            fs::remove_all(target);
            makeTree(target, {{"real", "r"}});
            fs::create_directory_symlink(base / "outside", target / "ln");
            fs::create_symlink(base / "outfile", target / "lf");

            CPatchInfo info;
            std::vector<StoredFile> files;
            c.fill(info, files);
            info.OlderTreeID = fingerprintOf(target);
            writeCraftedPatch(patch, info, files);
            RecordingSink sink;
            // These hand-made patches name no newer tree, so only with the fingerprints ignored
            // do they reach the changes, where the walk itself must refuse the link.
            const std::string message =
                errorOf([&] { tkApplyPatch(&sink, u16(target), u16(patch), u"", tolerant, true); });
            const std::string what = std::string(c.what) + (tolerant ? ", continueOnErrors" : "");
            EXPECT_EQ(outside(), outsideBefore) << what << ": " << message;
            if (c.mayApply || tolerant)
                EXPECT_EQ(message, "no error") << what;
            else
                EXPECT_NE(message, "no error") << what;
        }
    // The file written where the link was is a plain file now.
    EXPECT_TRUE(fs::exists(base / "outfile"));
}

} // namespace
