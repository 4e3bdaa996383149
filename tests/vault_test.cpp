#include "snapshot/dirscan.h"
#include "snapshotsupport.h"
#include "testsupport.h"
#include "xml/xmlrep.h"
#include "xmloutline.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ostmere;
using namespace testing_support;

namespace {

std::string messageOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const CTKErr& e) {
        return utf16ToUtf8(e.message);
    } catch (const CXmlError& e) {
        return "CXmlError " + utf16ToUtf8(e.description());
    }
    return "no error";
}

void expectSameSnapshot(const CDirSnapshot& a, const CDirSnapshot& b) {
    EXPECT_EQ(a.root, b.root);
    EXPECT_EQ(a.filterText, b.filterText);
    EXPECT_EQ(a.ignoredItems, b.ignoredItems);
    EXPECT_EQ(a.files, b.files);
    EXPECT_EQ(a.directories, b.directories);
    EXPECT_EQ(attributesIn(a), attributesIn(b));
    EXPECT_EQ(idsIn(a), idsIn(b));
    EXPECT_EQ(a.infoEntries, b.infoEntries);
    EXPECT_EQ(metadataIn(a), metadataIn(b));
}

TEST(Vault, WorkedExampleLayout) {
    TempDir dir;
    makeTree(dir / "t", {{"a.txt", "A"}, {"sub/", ""}, {"sub/b.txt", "B"}, {"x.tmp", "X"}});
    RecordingSink sink;
    const std::u16string vault = u16(dir / "t.tkv");
    tkCreateVault(&sink, u16(dir / "t"), u"*.tmp", vault);
    EXPECT_EQ(sink.statuses().back(), "tkVault file Created. ");
    EXPECT_EQ(sink.calls.back(), "detail:" + (dir / "t.tkv").string());
    CDirSnapshot scanned = scanDirectory(&sink, u16(dir / "t"), u"*.tmp");

    std::string expected =
        "tkVault[Version=1.1](ignoredItems[filter=*.tmp](fNode[path=\\x.tmp]) "
        "Files(fNode[path=\\a.txt] fNode[path=\\sub\\b.txt]) "
        "Directories(fNode[path=\\sub]) "
        "FSAttributes(fNode[path=\\a.txt,attr=32] fNode[path=\\sub,attr=16] "
        "fNode[path=\\sub\\b.txt,attr=32]) "
        "FileIDs(idNode[path=\\a.txt,id=" +
        utf16ToUtf8(scanned.fileIdOf(u"\\a.txt")) +
        "] idNode[path=\\sub\\b.txt,id=" + utf16ToUtf8(scanned.fileIdOf(u"\\sub\\b.txt")) +
        "]) VaultInfo(";
    std::string layout = outlineOfFile((dir / "t.tkv").string());
    EXPECT_EQ(layout.rfind("xml[version=1.0](" + expected, 0), 0u) << layout;

    CDirSnapshot back = readVault(&sink, vault);
    std::vector<std::u16string> names;
    for (const auto& [name, value] : back.infoEntries)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"ComputerName", u"DateCreated", u"UserName"}));
    const std::u16string& date = back.infoEntries[u"DateCreated"];
    ASSERT_EQ(date.size(), 25u);
    EXPECT_EQ(date.back(), u'\n');
}

TEST(Vault, WriteThenReadGivesTheSameSnapshot) {
    TempDir dir;
    const std::u16string odd(u"\\bad\xDCFF\xDC80 name \xE000 & <q> \"");
    // Ids other than 40 lowercase hex digits come back exactly as written.
    CDirSnapshot snapshot = snapshotOf(
        {u"\\z", u"\\a"}, {u"\\z\\f", odd, u"\\a\\g", u"\\z\\h"},
        {{u"\\z", 16}, {u"\\a", 17}, {u"\\z\\f", 33}, {odd, 0xFFFFFFFFu}, {u"\\a\\g", 32}},
        {{u"\\z\\f", std::u16string(40, u'a')},
         {odd, u"not checked"},
         {u"\\a\\g", std::u16string(40, u'0')},
         {u"\\z\\h", std::u16string(40, u'A')}});
    snapshot.root = u"/somewhere/else";
    snapshot.filterText = u"*.obj;\\Debug";
    snapshot.ignoredItems = {u"\\Debug", u"\\x.obj"};
    snapshot.infoEntries = {{u"DateCreated", u"Sun Dec 06 02:13:08 2026\n"}, {u"UserName", u"u"}};

    RecordingSink sink;
    const std::u16string vault = u16(dir / "v.tkv");
    writeVault(&sink, vault, snapshot);
    CDirSnapshot back = readVault(&sink, vault);
    snapshot.root = vault;
    expectSameSnapshot(back, snapshot);
    EXPECT_EQ(sink.statuses(),
              (std::vector<std::string>{"Creating vault file.", "tkVault file Created. "}));
}

TEST(Vault, EmptyDirectoryHasAllListsEmpty) {
    TempDir dir;
    fs::create_directories(dir / "t");
    RecordingSink sink;
    tkCreateVault(&sink, u16(dir / "t"), u"", u16(dir / "v.tkv"));
    std::string layout = outlineOfFile((dir / "v.tkv").string());
    EXPECT_EQ(layout.rfind("xml[version=1.0](tkVault[Version=1.1](ignoredItems[filter=] Files "
                           "Directories FSAttributes FileIDs VaultInfo(",
                           0),
              0u)
        << layout;
    CDirSnapshot back = readVault(&sink, u16(dir / "v.tkv"));
    EXPECT_TRUE(back.files.empty() && back.directories.empty() && back.ignoredItems.empty());
    EXPECT_TRUE(back.entries.empty() && back.filterText.empty());
    EXPECT_EQ(back.infoEntries.count(u"DateCreated"), 1u);
}

const char* const kLists = "<ignoredItems filter=\"\"/><Files/><Directories/><FSAttributes/>"
                           "<FileIDs/><VaultInfo/>";

std::string vaultText(const std::string& version, const std::string& lists = kLists) {
    return "<xml version=\"1.0\"><tkVault Version=\"" + version + "\">" + lists +
           "</tkVault></xml>";
}

TEST(Vault, RefusalsCarryTheirMessages) {
    struct Case {
        const char* name;
        std::string content; // empty: no file at all
        bool pathInMessage;  // "Unable to read vault file:" + path
    };
    const std::string noIds = "<ignoredItems filter=\"\"/><Files/><Directories/><FSAttributes/>"
                              "<VaultInfo/>";
    const Case cases[] = {
        {"version 1.01", vaultText("1.01"), true},
        {"version 1.0", vaultText("1.0"), true},
        {"no tkVault", "<xml version=\"1.0\"><other/></xml>", true},
        {"tkVault as root", "<tkVault Version=\"1.1\">" + std::string(kLists) + "</tkVault>", true},
        {"no Version", "<xml><tkVault>" + std::string(kLists) + "</tkVault></xml>", false},
        {"no FileIDs", vaultText("1.1", noIds), false},
        {"no filter",
         vaultText("1.1", "<ignoredItems/><Files/><Directories/><FSAttributes/>"
                          "<FileIDs/><VaultInfo/>"),
         false},
        {"fNode without path",
         vaultText("1.1", "<ignoredItems filter=\"\"/><Files><fNode/>"
                          "</Files><Directories/><FSAttributes/><FileIDs/>"
                          "<VaultInfo/>"),
         false},
        {"not well-formed", vaultText("1.1").substr(0, 40), false},
        {"missing file", "", false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (!c.content.empty())
            writeFile(dir / "v.tkv", c.content);
        RecordingSink sink;
        const std::u16string path = u16(dir / "v.tkv");
        std::string expected = c.pathInMessage ? "Unable to read vault file:" + utf16ToUtf8(path)
                                               : "Unable to make an XML object ";
        EXPECT_EQ(messageOf([&] { readVault(&sink, path); }), expected) << c.name;
    }
}

TEST(Vault, LenientReadingOfValues) {
    TempDir dir;
    writeFile(dir / "v.tkv",
              vaultText("1.1",
                        "<ignoredItems filter=\"f\"/><Files/><Directories/><FSAttributes>"
                        "<fNode path=\"\\a\" attr=\"junk\"/><fNode path=\"\\b\" attr=\"-1\"/>"
                        "</FSAttributes><FileIDs><idNode path=\"\\a\" id=\"1\"/>"
                        "<idNode path=\"\\a\" id=\"2\"/></FileIDs><VaultInfo/><extra/>"));
    RecordingSink sink;
    CDirSnapshot back = readVault(&sink, u16(dir / "v.tkv"));
    EXPECT_EQ(attributesIn(back), (AttributeMap{{u"\\a", 0}, {u"\\b", 0xFFFFFFFFu}}));
    EXPECT_EQ(idsIn(back), (TextMap{{u"\\a", u"2"}}));
    EXPECT_EQ(back.filterText, u"f");
}

TEST(Vault, FailedSaveReportsTheXmlFailureAfterTheFirstStatus) {
    TempDir dir;
    RecordingSink sink;
    EXPECT_THROW(writeVault(&sink, u16(dir / "no/dir/v.tkv"), CDirSnapshot()), CXmlError);
    EXPECT_EQ(sink.statuses(), std::vector<std::string>{"Creating vault file."});
}

TEST(Vault, CreateChecksDirectoryBeforeVaultName) {
    TempDir dir;
    RecordingSink sink;
    // The message names the directory in its normalised form, components joined by "\".
    EXPECT_EQ(messageOf([&] { tkCreateVault(&sink, u16(dir / "missing"), u"", u""); }),
              "Directory for patch application does  not exists: " + enginePath(dir / "missing"));
    EXPECT_EQ(messageOf([&] { tkCreateVault(&sink, dir.u16() + u"//", u"", u""); }),
              "No vault file specified: ");
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_EQ(describeTree(dir.path()), std::vector<std::string>{});
}

} // namespace
