#include "testsupport.h"
#include "xml/xmlrep.h"
#include "xmloutline.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ostmere;
using namespace testing_support;

namespace {

CPatchInfo workedExample() {
    CPatchInfo info;
    info.ChangedFiles = {u"\\a.txt"};
    info.NewFiles = {u"\\sub\\x.txt", u"\\sub\\deep\\y.txt"};
    info.NewDirs = {u"\\sub\\deep"};
    info.UnlinkedFiles = {u"\\old.txt"};
    info.AttributeChanges = {
        {u"\\a.txt", 32}, {u"\\sub\\deep", 16}, {u"\\sub\\deep\\y.txt", 33}, {u"\\sub\\x.txt", 32}};
    info.filter = u"*.tmp";
    info.ignoredNew = {u"\\n.tmp"};
    info.ignoredOld = {u"\\o.tmp", u"\\p.tmp"};
    info.infoEntries = {{u"NewFiles", u"2"}, {u"DateCreated", u"Sun Dec 06 02:13:08 2026\n"}};
    return info;
}

TEST(DiffReport, WorkedExampleLayout) {
    TempDir dir;
    RecordingSink sink;
    writeDiffReport(&sink, u16(dir / "r.xml"), workedExample());
    EXPECT_EQ(outlineOfFile((dir / "r.xml").string()),
              "xml[version=1.0](tkDiffPatchReport[Version=1.0]("
              "PatchInfo(infoEntry[name=DateCreated,value=Sun Dec 06 02:13:08 2026\n] "
              "infoEntry[name=NewFiles,value=2]) "
              "newIgnoredItems[filter=*.tmp](fNode[path=\\n.tmp]) "
              "oldIgnoredItems[filter=*.tmp](fNode[path=\\o.tmp] fNode[path=\\p.tmp]) "
              "UnlinkedFiles(fNode[path=old.txt]) "
              "UnlinkedDirs "
              "NewFiles(fNode[path=sub](fNode[path=x.txt] fNode[path=deep](fNode[path=y.txt]))) "
              "NewDirs(fNode[path=sub](fNode[path=deep])) "
              "ModifyedFiles(fNode[path=a.txt]) "
              "AttributeChanges(fNode[path=a.txt,attr=20] fNode[path=sub](fNode[path=deep,attr=10]("
              "fNode[path=y.txt,attr=21]) fNode[path=x.txt,attr=20]))))");
    std::vector<std::string> expected{"status:Creating an XML report", "range:10"};
    expected.insert(expected.end(), 10, "step");
    expected.push_back("status:XML Report Created. ");
    expected.push_back("detail:" + (dir / "r.xml").string());
    EXPECT_EQ(sink.calls, expected);
}

TEST(DiffReport, EmptyRecordHasAllNineLists) {
    TempDir dir;
    RecordingSink sink;
    writeDiffReport(&sink, u16(dir / "r.xml"), CPatchInfo());
    EXPECT_EQ(outlineOfFile((dir / "r.xml").string()),
              "xml[version=1.0](tkDiffPatchReport[Version=1.0](PatchInfo "
              "newIgnoredItems[filter=] oldIgnoredItems[filter=] UnlinkedFiles UnlinkedDirs "
              "NewFiles NewDirs ModifyedFiles AttributeChanges))");
}

TEST(DiffReport, SaveFailureComesAfterNineStepsAndKeepsNoFile) {
    TempDir dir;
    RecordingSink sink;
    EXPECT_THROW(writeDiffReport(&sink, u16(dir / "none/r.xml"), workedExample()), CXmlError);
    EXPECT_EQ(std::count(sink.calls.begin(), sink.calls.end(), "step"), 9);
    EXPECT_FALSE(sink.sawStatus("XML Report Created. "));
    EXPECT_TRUE(describeTree(dir.path()).empty());
}

TEST(DiffReport, CancelBeforeSavingLeavesTheEarlierFile) {
    TempDir dir;
    writeFile(dir / "r.xml", "earlier");
    RecordingSink sink;
    sink.cancelAt("step", 5);
    EXPECT_THROW(writeDiffReport(&sink, u16(dir / "r.xml"), workedExample()), COPCancel);
    EXPECT_EQ(describeTree(dir.path()), std::vector<std::string>{"r.xml=earlier"});
}

} // namespace
