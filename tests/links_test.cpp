// Links and special files at the engine's edges: what a patch may claim is a link, and what
// vaults and reports say of items the scan skipped.
#include "patchsupport.h"
#include "xml/xmlrep.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ostmere;
using namespace testing_support;

namespace {

// A link's content is its target text; a record no file system could hold as a link is a
// damaged patch, refused while staging, before the target changes.
TEST(LinkRecords, TargetsNoLinkCanHoldAreRefusedBeforeTheTargetChanges) {
    struct Case {
        const char* what;
        std::string target;
    };
    const Case cases[] = {{"empty", ""},
                          {"holding a NUL", std::string("a\0b", 3)},
                          {"longer than any link", std::string(5000, 'x')}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir base;
        makeTree(base / "older", {{"a", "1"}});
        makeTree(base / "newer", {{"a", "2"}});
        fs::create_symlink("x", base / "newer/l");
        diffPatch(base / "older", base / "newer", base / "p.tkp");
        const CPatchInfo info = loadInfo(base / "p.tkp");
        ASSERT_EQ(info.AttributeChanges.at(u"\\l"), 0x420u);
        writeCraftedPatch(base / "p.tkp", info, {{u"\\a", "2", {}}, {u"\\l", c.target, {}}});
        copyTree(base / "older", base / "t");
        RecordingSink sink;
        EXPECT_EQ(errorOf([&] {
                      tkApplyPatch(&sink, u16(base / "t"), u16(base / "p.tkp"), u"", false, false);
                  }),
                  "The patch holds a link whose target cannot be a link (damaged patch): \\l");
        EXPECT_EQ(describeTree(base / "t"), (std::vector<std::string>{"a=1"}));
        EXPECT_FALSE(fs::exists(base / "t/.ostmere-staging"));
    }
}

TEST(SkippedItems, KeepTheirReasonInVaultsAndReports) {
    TempDir base;
    makeTree(base / "older", {{"f", "1"}});
    makeTree(base / "newer", {{"f", "2"}});
    ASSERT_EQ(mkfifo((base / "newer/pipe").c_str(), 0600), 0);
    RecordingSink sink;
    tkCreateVault(&sink, u16(base / "newer"), u"", u16(base / "v.tkv"));
    const CDirSnapshot vault = readVault(&sink, u16(base / "v.tkv"));
    EXPECT_EQ(vault.ignoredItems, PathList{u"\\pipe"});
    EXPECT_EQ(vault.skipReasons, (TextMap{{u"\\pipe", u"named pipe"}}));

    tkDiffCreatePatch(&sink, u16(base / "older"), u16(base / "newer"), u16(base / "p.tkp"),
                      u16(base / "r.xml"), u"");
    const std::string report = readFile(base / "r.xml");
    EXPECT_NE(report.find("<fNode path=\"\\pipe\" Reason=\"named pipe\""), std::string::npos)
        << report;
    EXPECT_EQ(readReport(base / "r.xml")["newIgnoredItems"], std::vector<std::string>{"\\pipe"});
}

} // namespace
