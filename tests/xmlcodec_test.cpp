#include "core/tkerr.h"
#include "testsupport.h"
#include "xml/xmldoc.h"
#include "xml/xmltext.h"
#include "xmloutline.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostmere;
using namespace testing_support;

namespace {

// A created document with an empty content root "top" below the document element.
class XmlCodecs : public ::testing::Test {
  protected:
    void SetUp() override {
        doc.create();
        doc.topElement = doc.createElement(u"top");
        doc.appendChild(doc.rootElement, doc.topElement);
    }
    std::string top() const { return outline(doc.topElement); }
    CXmlDocument doc;
};

TEST_F(XmlCodecs, FreshDocumentIsTheVersionedXmlElement) {
    EXPECT_EQ(outline(doc.rootElement), "xml[version=1.0](top)");
}

TEST_F(XmlCodecs, EmptyListsStillAppear) {
    writePathList(doc, u"a", PathList{});
    writePathTree(doc, u"b", {});
    writeAttributeList(doc, u"c", AttributeMap{});
    writeAttributeTree(doc, u"d", {});
    writeEntryList(doc, u"e", {}, "k", "v", u"item");
    EXPECT_EQ(top(), "top(a b c d e)");
}

TEST_F(XmlCodecs, PathTreeSharesPrefixesInFirstUseOrder) {
    writePathTree(doc, u"T", {u"\\a\\b.txt", u"\\a\\c.txt", u"\\d", u"\\a\\b.txt", u"\\\\", u""});
    EXPECT_EQ(top(), "top(T(fNode[path=a](fNode[path=b.txt] fNode[path=c.txt]) fNode[path=d]))");
}

TEST_F(XmlCodecs, AttributeTreeAndListOfTheSameMap) {
    AttributeMap map{{u"\\a", 16}, {u"\\a\\x", 32}, {u"\\m", 0xFFFFFFFFu}};
    writeAttributeTree(doc, u"T", map);
    writeAttributeList(doc, u"L", map);
    EXPECT_EQ(top(),
              "top(T(fNode[path=a,attr=10](fNode[path=x,attr=20]) fNode[path=m,attr=ffffffff]) "
              "L(fNode[path=\\a,attr=16] fNode[path=\\a\\x,attr=32] fNode[path=\\m,attr=-1]))");
    EXPECT_EQ(readAttributeList(doc.topElement.child("L"), u"fNode"), map);
}

TEST_F(XmlCodecs, EmptyKeyPutsAttrOnTheListItself) {
    writeAttributeTree(doc, u"T", {{u"", 33}, {u"\\b", 32}});
    EXPECT_EQ(top(), "top(T[attr=21](fNode[path=b,attr=20]))");
}

TEST_F(XmlCodecs, EntryListAndReadBackKeepKeyOrderAndLaterDuplicates) {
    writeEntryList(doc, u"E", {{u"b", u"2"}, {u"a", u"1"}}, "name", "value", u"entry");
    EXPECT_EQ(top(), "top(E(entry[name=a,value=1] entry[name=b,value=2]))");
    XmlElement list = doc.topElement.child("E");
    XmlElement dup = list.append_child("entry");
    dup.append_attribute("name") = "a";
    dup.append_attribute("value") = "later";
    TextMap expected{{u"a", u"later"}, {u"b", u"2"}};
    EXPECT_EQ(readEntryList(list, u"entry", "name", "value"), expected);
}

TEST_F(XmlCodecs, PathListIsFlatAndReadsBackInDocumentOrder) {
    PathList paths{u"\\z", u"\\sub\\b.txt", u"\\a"};
    XmlElement list = writePathList(doc, u"P", paths);
    EXPECT_EQ(outline(list), "P(fNode[path=\\z] fNode[path=\\sub\\b.txt] fNode[path=\\a])");
    EXPECT_EQ(readPathList(list, u"fNode"), paths);
    EXPECT_TRUE(readPathList(list, u"nothing").empty());
}

TEST_F(XmlCodecs, MissingAttributeOrNodeIsTheNullPointerFailure) {
    XmlElement list = doc.createElement(u"P");
    doc.appendChild(doc.topElement, list);
    list.append_child("fNode"); // no "path"
    try {
        readPathList(list, u"fNode");
        FAIL() << "no failure";
    } catch (const CXmlError& e) {
        EXPECT_EQ(e.code(), CXmlError::E_POINTER_CODE);
        EXPECT_TRUE(e.description().empty());
    }
    EXPECT_THROW(requireSingleNode(doc.topElement, u"absent"), CXmlError);
    EXPECT_THROW(selectNodes(XmlElement(), u"fNode"), CXmlError);
}

TEST_F(XmlCodecs, BadQueryIsAnXmlFailureNotAnEngineError) {
    try {
        selectSingleNode(doc.topElement, u"fNode[");
        FAIL() << "no failure";
    } catch (const CXmlError& e) {
        EXPECT_FALSE(e.description().empty());
    }
}

TEST_F(XmlCodecs, TreeOfManySiblingsIsBuiltOnce) {
    PathList paths;
    for (int i = 0; i < 3000; ++i)
        paths.push_back(u"\\d\\f" + decimal(i % 1000));
    XmlElement list = writePathTree(doc, u"T", paths);
    EXPECT_EQ(
        std::distance(list.child("fNode").children().begin(), list.child("fNode").children().end()),
        1000);
}

TEST(XmlSplitPath, Components) {
    using V = std::vector<std::u16string>;
    EXPECT_EQ(splitPath(u"\\sub\\b.txt"), (V{u"sub", u"b.txt"}));
    EXPECT_EQ(splitPath(u"\\\\a\\\\b\\"), (V{u"a", u"b"}));
    EXPECT_EQ(splitPath(u"a/b"), (V{u"a/b"}));
    EXPECT_TRUE(splitPath(u"\\\\").empty());
}

TEST(XmlParseDecimal, ReadsLikeTheCLibrary) {
    const std::pair<const char16_t*, int32_t> cases[] = {
        {u"32", 32},
        {u"-1", -1},
        {u"  +7x", 7},
        {u"abc", 0},
        {u"", 0},
        {u"99999999999", 2147483647},
        {u"-2147483648", INT32_MIN},
        {u"-99999999999", INT32_MIN},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(parseDecimal(text), value) << utf16ToUtf8(text);
}

TEST(XmlText, UnrepresentableUnitsRoundTripAsValidXml) {
    const std::u16string cases[] = {
        u"plain \\a\\b.txt",
        std::u16string(u"bad\xDCFF\xDC80name"),
        std::u16string(u"lone high \xD800 end"),
        std::u16string(u"pair \xD83D\xDE00 ok"),
        std::u16string(u"escape \xE000 literal \xE000\xE001"),
        std::u16string(u"ctl \x01\x1F tab\tlf\n"),
        std::u16string(u"nonchars \xFFFE\xFFFF"),
    };
    for (const std::u16string& text : cases) {
        std::string xml = toXmlText(text);
        EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(xml)), xml) << "not valid UTF-8";
        for (unsigned char c : xml)
            EXPECT_FALSE(c < 0x20 && c != '\t' && c != '\n') << "control in " << xml;
        EXPECT_EQ(fromXmlText(xml.c_str()), text);
    }
    EXPECT_EQ(toXmlText(u"\\sub\\b.txt"), "\\sub\\b.txt");
}

TEST(XmlDocument, SavedFileReadsBackWithTheSameTree) {
    TempDir dir;
    CXmlDocument doc;
    doc.create();
    doc.topElement = doc.createElement(u"top");
    doc.appendChild(doc.rootElement, doc.topElement);
    writeEntryList(doc, u"E", {{std::u16string(u"n\xDC81"), u"Thu Dec 10 08:34:29 2026\n"}}, "name",
                   "value", u"entry");
    doc.save(dir.u16() + u"/f.xml");

    CXmlDocument back;
    back.open(dir.u16() + u"/f.xml");
    ASSERT_TRUE(back.rootElement);
    EXPECT_EQ(outline(back.rootElement), outline(doc.rootElement));
    TextMap entries =
        readEntryList(requireSingleNode(requireSingleNode(back.rootElement, u"top"), u"E"),
                      u"entry", "name", "value");
    EXPECT_EQ(entries.begin()->first, std::u16string(u"n\xDC81"));
    EXPECT_EQ(entries.begin()->second, u"Thu Dec 10 08:34:29 2026\n");
}

TEST(XmlDocument, OpenOfMissingOrBrokenFileLeavesNoRoot) {
    TempDir dir;
    writeFile(dir / "broken.xml", "<xml version=\"1.0\"><tkVault Version=\"1.1\">");
    for (const char* name : {"missing.xml", "broken.xml"}) {
        CXmlDocument doc;
        EXPECT_NO_THROW(doc.open(u16(dir / name)));
        EXPECT_FALSE(doc.rootElement) << name;
    }
}

TEST(XmlDocument, FailedSaveKeepsTheEarlierFile) {
    TempDir dir;
    writeFile(dir / "keep.xml", "earlier");
    CXmlDocument doc;
    doc.create();
    EXPECT_THROW(doc.save(dir.u16() + u"/no/such/dir.xml"), CXmlError);
    makeReadOnly(dir.path());
    if (geteuid() != 0) { // root writes into read-only directories
        EXPECT_THROW(doc.save(u16(dir / "keep.xml")), CXmlError);
    }
    makeReadOnly(dir.path(), false);
    EXPECT_EQ(readFile(dir / "keep.xml"), "earlier");
    EXPECT_EQ(describeTree(dir.path()), std::vector<std::string>{"keep.xml=earlier"});
}

} // namespace
