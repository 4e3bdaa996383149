// Patches made against a vault, the vault brought forward with each one, and the reports
// that describe a patch.
#include "patchsupport.h"
#include "snapshotsupport.h"
#include "xml/xmlrep.h"

#include <gtest/gtest.h>

using namespace ostmere;
using namespace testing_support;

namespace {

// Every entry but the ignored ones, which stay behind in a patched copy.
std::vector<std::string> withoutIgnored(const fs::path& root) {
    auto tree = describeTree(root);
    std::erase_if(tree, [](const std::string& l) { return l.find(".tmp") != std::string::npos; });
    return tree;
}

class VaultPatches : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(base / "s0", {{"a", "1"},
                               {"gone/x", "x"},
                               {"d/keep", "k"},
                               {"d/old.tmp", "t"},
                               {"ro", "r"},
                               {"swap", "file"}});
        makeTree(base / "s1", {{"a", "2"},
                               {"d/keep", "k"},
                               {"d/new.tmp", "t2"},
                               {"ro", "r"},
                               {"swap/inner", "i"},
                               {"n/m/f", "deep"},
                               {"empty/", ""}});
        makeReadOnly(base / "s1/ro");
        makeTree(base / "s2", {{"a", "3"},
                               {"d/keep", "changed"},
                               {"ro", "r"},
                               {"swap", "file again"},
                               {"n/m/f", "deep"},
                               {"n/g", "g"}});
        RecordingSink sink;
        tkCreateVault(&sink, u16(base / "s0"), u"*.tmp", u16(vault));
        copyTree(base / "s0", base / "target");
    }
    void patchFromVault(const std::string& newer, const fs::path& patch, bool update) {
        RecordingSink sink;
        tkCreatePatchVault(&sink, u16(base / newer), u16(patch), u16(vault), u"", update);
        EXPECT_EQ(sink.statuses().back(), "Patch created ok.");
    }
    std::string apply(const fs::path& patch) {
        RecordingSink sink;
        tkApplyPatch(&sink, u16(base / "target"), u16(patch), u"", false, false);
        return sink.statuses().back();
    }

    TempDir base;
    fs::path vault = base / "state.tkv";
};

TEST_F(VaultPatches, UpdatedVaultCarriesTwoPatchesInARow) {
    patchFromVault("s1", base / "p1.tkp", true);
    EXPECT_EQ(apply(base / "p1.tkp"), "New fingerprint verified.");
    EXPECT_EQ(withoutIgnored(base / "target"), withoutIgnored(base / "s1"));
    // The brought-forward vault holds the newer tree alone: comparing against the older one
    // leaves no entry behind for what it lost (such as \gone\x).
    RecordingSink sink;
    const CDirSnapshot updated = readVault(&sink, u16(vault));
    const CDirSnapshot scanned = scanDirectory(&sink, u16(base / "s1"), u"*.tmp");
    EXPECT_EQ(attributesIn(updated), attributesIn(scanned));
    EXPECT_EQ(idsIn(updated), idsIn(scanned));

    patchFromVault("s2", base / "p2.tkp", true);
    EXPECT_EQ(loadInfo(base / "p2.tkp").OlderTreeID, loadInfo(base / "p1.tkp").NewerTreeID);
    EXPECT_EQ(apply(base / "p2.tkp"), "New fingerprint verified.");
    EXPECT_EQ(withoutIgnored(base / "target"), withoutIgnored(base / "s2"));
    EXPECT_EQ(fingerprintOf(base / "target", "*.tmp"), loadInfo(base / "p2.tkp").NewerTreeID);
}

TEST_F(VaultPatches, VaultIsOnlyReadWithoutUpdate) {
    const std::string before = readFile(vault);
    patchFromVault("s1", base / "p1.tkp", false);
    EXPECT_EQ(readFile(vault), before);
    // The second patch is still made against the first state, so it applies to the copy.
    patchFromVault("s2", base / "p2.tkp", false);
    EXPECT_EQ(apply(base / "p2.tkp"), "New fingerprint verified.");
    EXPECT_EQ(withoutIgnored(base / "target"), withoutIgnored(base / "s2"));
}

TEST_F(VaultPatches, VaultPatchEqualsTheDirectoryPatch) {
    patchFromVault("s1", base / "fromVault.tkp", false);
    diffPatch(base / "s0", base / "s1", base / "fromDir.tkp", "*.tmp");
    const CPatchInfo v = loadInfo(base / "fromVault.tkp"), d = loadInfo(base / "fromDir.tkp");
    EXPECT_EQ(v.OlderTreeID, d.OlderTreeID);
    EXPECT_EQ(v.NewerTreeID, d.NewerTreeID);
    EXPECT_EQ(v.UnlinkedFiles, d.UnlinkedFiles);
    EXPECT_EQ(v.UnlinkedDirectories, d.UnlinkedDirectories);
    EXPECT_EQ(v.NewFiles, d.NewFiles);
    EXPECT_EQ(v.ChangedFiles, d.ChangedFiles);
    EXPECT_EQ(v.NewDirs, d.NewDirs);
    EXPECT_EQ(v.AttributeChanges, d.AttributeChanges);
    EXPECT_EQ(v.ignoredOld, d.ignoredOld);
    EXPECT_EQ(v.infoEntries.at(u"OlderDir"), u16(vault));
}

// Creation and query write their reports from the same record.
TEST(PatchReports, QueryReportEqualsTheCreationReport) {
    TempDir base;
    makeTree(base / "older", {{"a", "1"}, {"gone/x", "x"}, {"skip.tmp", "s"}, {"sub/c", "c"}});
    makeTree(base / "newer", {{"a", "2"}, {"sub/c", "c"}, {"sub/n/f", "f"}, {"other.tmp", "o"}});
    makeReadOnly(base / "newer/sub/c");
    RecordingSink sink;
    tkDiffCreatePatch(&sink, u16(base / "older"), u16(base / "newer"), u16(base / "p.tkp"),
                      u16(base / "created.xml"), u"*.tmp");
    tkQuerryPatch(&sink, u16(base / "p.tkp"), u16(base / "queried.xml"));
    const ReportContent created = readReport(base / "created.xml");
    const ReportContent queried = readReport(base / "queried.xml");
    ASSERT_FALSE(created.empty());
    EXPECT_EQ(queried, created);
    // The lists really hold the patch.
    EXPECT_EQ(created.at("newIgnoredItems"), std::vector<std::string>{"\\other.tmp"});
    EXPECT_EQ(created.at("oldIgnoredItems"), std::vector<std::string>{"\\skip.tmp"});
    EXPECT_EQ(created.at("filter:newIgnoredItems"), std::vector<std::string>{"*.tmp"});
    EXPECT_EQ(created.at("ModifyedFiles"), std::vector<std::string>{"\\a"});
    EXPECT_EQ(created.at("UnlinkedDirs"), std::vector<std::string>{"\\gone"});
    EXPECT_EQ(created.at("AttributeChanges"),
              (std::vector<std::string>{"\\a attr=20", "\\sub", "\\sub\\c attr=21",
                                        "\\sub\\n attr=10", "\\sub\\n\\f attr=20"}));
    const auto& info = created.at("PatchInfo");
    EXPECT_NE(std::find(info.begin(), info.end(), "NewFiles=1"), info.end());
    EXPECT_TRUE(std::any_of(info.begin(), info.end(),
                            [](const std::string& e) { return e.rfind("AnalysisTime=", 0) == 0; }));

    // The report of an application tells what was done, with the creation entries only.
    copyTree(base / "older", base / "target");
    tkApplyPatch(&sink, u16(base / "target"), u16(base / "p.tkp"), u16(base / "applied.xml"), false,
                 false);
    const ReportContent applied = readReport(base / "applied.xml");
    EXPECT_EQ(applied.at("ModifyedFiles"),
              (std::vector<std::string>{"\\a", "\\sub", "\\sub\\n", "\\sub\\n\\f"}));
    EXPECT_TRUE(applied.at("NewFiles").empty());
    for (const auto& entry : applied.at("PatchInfo"))
        EXPECT_TRUE(entry.rfind("ComputerName=", 0) == 0 || entry.rfind("UserName=", 0) == 0 ||
                    entry.rfind("DateCreated=", 0) == 0)
            << entry;
}

TEST(PatchReports, QueryOfAnUnfinishedPatchWritesNoReport) {
    TempDir base;
    makeTree(base / "older", {{"a", "1"}});
    makeTree(base / "newer", {{"a", "2"}});
    diffPatch(base / "older", base / "newer", base / "p.tkp");
    std::string bytes = readFile(base / "p.tkp");
    bytes[30] = 0; // completion flag
    writeFile(base / "p.tkp", bytes);
    RecordingSink sink;
    EXPECT_EQ(errorOf([&] { tkQuerryPatch(&sink, u16(base / "p.tkp"), u16(base / "r.xml")); }),
              "This patch file has not been properly written.");
    EXPECT_FALSE(fs::exists(base / "r.xml"));
    EXPECT_EQ(errorOf([&] { tkQuerryPatch(&sink, u"", u""); }), "No XML report file specified: ");
}

} // namespace
