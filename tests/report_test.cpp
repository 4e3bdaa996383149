#include "testsupport.h"
#include "xml/xmldoc.h"
#include "xml/xmlrep.h"
#include "xml/xmlstream.h"
#include "xmloutline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

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

// The same record saved through the document layer, list by list as the report is made of.
void saveThroughDocument(const fs::path& file, const CPatchInfo& info) {
    CXmlDocument doc;
    doc.create();
    doc.topElement = doc.createElement(u"tkDiffPatchReport");
    setAttribute(doc.topElement, "Version", u"1.0");
    doc.appendChild(doc.rootElement, doc.topElement);
    writeEntryList(doc, u"PatchInfo", info.infoEntries, "name", "value", u"infoEntry");
    setAttribute(writePathList(doc, u"newIgnoredItems", info.ignoredNew), "filter", info.filter);
    setAttribute(writePathList(doc, u"oldIgnoredItems", info.ignoredOld), "filter", info.filter);
    writePathTree(doc, u"UnlinkedFiles", info.UnlinkedFiles);
    writePathTree(doc, u"UnlinkedDirs", info.UnlinkedDirectories);
    writePathTree(doc, u"NewFiles", info.NewFiles);
    writePathTree(doc, u"NewDirs", info.NewDirs);
    writePathTree(doc, u"ModifyedFiles", info.ChangedFiles);
    writeAttributeTree(doc, u"AttributeChanges", info.AttributeChanges);
    doc.save(u16(file));
}

TEST(DiffReport, StreamedBytesEqualTheDocumentLayersForAwkwardTexts) {
    CPatchInfo info = workedExample();
    std::u16string controls;
    for (char16_t c = 1; c < 32; ++c)
        controls += c;
    const std::u16string awkward =
        u"\\q\"u&o<t>e's" + controls + u"\\\xDC80lone\\\xE000pua\\\x00E9t\xFFFE";
    info.ignoredNew.push_back(awkward);
    info.NewFiles.push_back(awkward);
    info.NewFiles.push_back(u"\\\\sub\\\\x.txt"); // empty components, an existing chain
    info.NewFiles.push_back(u"\\a.txt");
    info.NewDirs.push_back(u"");
    info.AttributeChanges[u"\\"] = 0x10;          // no component: on the list element
    info.AttributeChanges[u"\\\\sub\\x.txt"] = 1; // names the node of \sub\x.txt again
    info.AttributeChanges[awkward] = 0xFFFFFFFFu;
    info.infoEntries[u"w\"e&i<r>d"] = controls;
    info.filter = u"*.t\"m&p<";
    for (const CPatchInfo& record : {info, CPatchInfo()}) {
        TempDir dir;
        RecordingSink sink;
        writeDiffReport(&sink, u16(dir / "streamed.xml"), record);
        saveThroughDocument(dir / "document.xml", record);
        EXPECT_EQ(readFile(dir / "streamed.xml"), readFile(dir / "document.xml"));
    }
}

// Depth of the deepest element and the longest run of leading tabs of any line.
std::pair<size_t, size_t> depthAndIndent(const fs::path& file) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(file.c_str()));
    size_t deepest = 0;
    std::vector<std::pair<pugi::xml_node, size_t>> pending{{doc.document_element(), 1}};
    while (!pending.empty()) {
        auto [node, depth] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, depth);
        for (pugi::xml_node child : node.children())
            pending.emplace_back(child, depth + 1);
    }
    std::ifstream in(file);
    size_t indent = 0;
    for (std::string line; std::getline(in, line);)
        indent = std::max(indent, line.find_first_not_of('\t'));
    return {deepest, indent};
}

TEST(DiffReport, DeepPathKeepsItsNestingInSpaceLinearInThePath) {
    std::vector<uintmax_t> sizes;
    for (size_t components : {10000, 20000}) {
        std::u16string path;
        for (size_t i = 0; i < components; ++i)
            path += u"\\d";
        CPatchInfo info;
        info.NewDirs = {path};
        TempDir dir;
        RecordingSink sink;
        writeDiffReport(&sink, u16(dir / "r.xml"), info);
        auto [deepest, indent] = depthAndIndent(dir / "r.xml");
        EXPECT_EQ(deepest, components + 3); // xml, tkDiffPatchReport, NewDirs, then the chain
        EXPECT_EQ(indent, CXmlStreamWriter::kMaxIndentDepth);
        sizes.push_back(fs::file_size(dir / "r.xml"));
    }
    // Twice the components, twice the size, give or take the fixed parts of the document.
    EXPECT_NEAR(double(sizes[1]), 2.0 * double(sizes[0]), 8192.0);
}

} // namespace
