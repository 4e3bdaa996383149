// Tree comparison on snapshots built in memory: what a copy of the older tree must undergo.
#include "compare/comparison.h"
#include "core/tkerr.h"
#include "patchsupport.h"
#include "snapshot/fingerprint.h"

#include <gtest/gtest.h>

using namespace ostmere;
using namespace testing_support;

namespace {

std::u16string decimalText(size_t n) {
    return decimal(static_cast<int64_t>(n));
}

constexpr uint32_t kDir = 0x10, kFile = 0x20, kReadOnly = 0x01;

// One snapshot item: a path ending in "/" is a directory; id is a file's content id.
struct Item {
    std::u16string path;
    uint32_t word;
    std::u16string id;
};

CDirSnapshot snapshot(const std::vector<Item>& items, const char16_t* root = u"\\root") {
    CDirSnapshot s;
    s.root = root;
    for (const auto& item : items) {
        CEntry& entry = item.word & kDir ? s.addDirectory(item.path) : s.addFile(item.path);
        if (!(item.word & kDir))
            entry.id = CFileId::fromText(item.id);
        entry.setAttributes(item.word);
    }
    return s;
}

struct Case {
    const char* what;
    std::vector<Item> older, newer;
    PathList unlinkedFiles, unlinkedDirectories, newFiles, changedFiles, newDirs;
    AttributeMap attributeChanges;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"equal trees",
         {{u"\\d", kDir, u""}, {u"\\d\\f", kFile, u"1"}},
         {{u"\\d", kDir, u""}, {u"\\d\\f", kFile, u"1"}},
         {},
         {},
         {},
         {},
         {},
         {}},
        {"two empty trees", {}, {}, {}, {}, {}, {}, {}, {}},
        {"file becomes a directory",
         {{u"\\p", kFile, u"1"}},
         {{u"\\p", kDir, u""}},
         {u"\\p"},
         {},
         {},
         {},
         {u"\\p"},
         {{u"\\p", kDir}}},
        {"directory becomes a file",
         {{u"\\p", kDir, u""}},
         {{u"\\p", kFile, u"1"}},
         {},
         {u"\\p"},
         {},
         {u"\\p"},
         {},
         {{u"\\p", kFile}}},
        {"only the read-only bit of a file changes",
         {{u"\\f", kFile, u"1"}},
         {{u"\\f", kFile | kReadOnly, u"1"}},
         {},
         {},
         {},
         {},
         {},
         {{u"\\f", kFile | kReadOnly}}},
        {"only the attribute word of a directory changes",
         {{u"\\d", kDir, u""}},
         {{u"\\d", kDir | kReadOnly, u""}},
         {},
         {},
         {},
         {},
         {},
         {{u"\\d", kDir | kReadOnly}}},
        {"changed content keeps its word but still gets an attribute entry",
         {{u"\\f", kFile, u"1"}, {u"\\same", kFile, u"s"}},
         {{u"\\f", kFile, u"2"}, {u"\\same", kFile, u"s"}},
         {},
         {},
         {},
         {u"\\f"},
         {},
         {{u"\\f", kFile}}},
        {"new nested directories with a file",
         {{u"\\a", kFile, u"1"}},
         {{u"\\a", kFile, u"1"},
          {u"\\n", kDir, u""},
          {u"\\n\\m", kDir, u""},
          {u"\\n\\m\\f", kFile | kReadOnly, u"2"}},
         {},
         {},
         {u"\\n\\m\\f"},
         {},
         {u"\\n", u"\\n\\m"},
         {{u"\\n", kDir}, {u"\\n\\m", kDir}, {u"\\n\\m\\f", kFile | kReadOnly}}},
        {"removed nested directories with files",
         {{u"\\r", kDir, u""},
          {u"\\r\\s", kDir, u""},
          {u"\\r\\s\\f", kFile, u"1"},
          {u"\\r\\g", kFile, u"2"}},
         {},
         {u"\\r\\g", u"\\r\\s\\f"},
         {u"\\r", u"\\r\\s"},
         {},
         {},
         {},
         {}},
        {"unlinked directories sorted with the backslash before letters",
         {{u"\\ab", kDir, u""}, {u"\\a\\b", kDir, u""}, {u"\\a", kDir, u""}},
         {},
         {},
         {u"\\a", u"\\a\\b", u"\\ab"},
         {},
         {},
         {},
         {}},
        {"a change of letter case is a removal and an addition",
         {{u"\\Name", kFile, u"1"}},
         {{u"\\name", kFile, u"1"}},
         {u"\\Name"},
         {},
         {u"\\name"},
         {},
         {},
         {{u"\\name", kFile}}},
        {"non-ASCII and surrogate-carried names compare by code unit",
         {{u"\\\xdc80", kFile, u"1"}, {u"\\\u00e9", kFile, u"1"}},
         {{u"\\\xdc80", kFile, u"2"}, {u"\\\u00e9", kFile, u"1"}, {u"\\z", kFile, u"3"}},
         {},
         {},
         {u"\\z"},
         {u"\\\xdc80"},
         {},
         {{u"\\z", kFile}, {u"\\\xdc80", kFile}}},
    };
    return table;
}

TEST(CompareSnapshots, Cases) {
    for (const auto& c : cases()) {
        CDirSnapshot older = snapshot(c.older), newer = snapshot(c.newer, u"\\newer");
        RecordingSink sink;
        CPatchInfo info = compareSnapshots(&sink, newer, older);
        EXPECT_EQ(info.UnlinkedFiles, c.unlinkedFiles) << c.what;
        EXPECT_EQ(info.UnlinkedDirectories, c.unlinkedDirectories) << c.what;
        EXPECT_EQ(info.NewFiles, c.newFiles) << c.what;
        EXPECT_EQ(info.ChangedFiles, c.changedFiles) << c.what;
        EXPECT_EQ(info.NewDirs, c.newDirs) << c.what;
        EXPECT_EQ(info.AttributeChanges, c.attributeChanges) << c.what;

        auto& e = info.infoEntries;
        EXPECT_EQ(e[u"AttributeChanges"], decimalText(c.attributeChanges.size())) << c.what;
        EXPECT_EQ(e[u"UnlinkedFiles"], decimalText(c.unlinkedFiles.size())) << c.what;
        EXPECT_EQ(e[u"UnlinkedDirectories"], decimalText(c.unlinkedDirectories.size())) << c.what;
        EXPECT_EQ(e[u"NewFiles"], decimalText(c.newFiles.size())) << c.what;
        EXPECT_EQ(e[u"NewDirs"], decimalText(c.newDirs.size())) << c.what;
        EXPECT_EQ(e[u"ChangedFiles"], decimalText(c.changedFiles.size())) << c.what;
        EXPECT_EQ(e[u"NewerDir"], u"\\newer") << c.what;
        EXPECT_EQ(e[u"OlderDir"], u"\\root") << c.what;
        EXPECT_EQ(e[u"NewerTreeID"], info.NewerTreeID) << c.what;
        EXPECT_EQ(e[u"OlderTreeID"], info.OlderTreeID) << c.what;
        EXPECT_EQ(info.NewerTreeID == info.OlderTreeID,
                  std::string(c.what) == "equal trees" || std::string(c.what) == "two empty trees")
            << c.what;
    }
}

TEST(CompareSnapshots, FingerprintsComeFromTheSnapshots) {
    CDirSnapshot older = snapshot({{u"\\f", kFile, u"1"}});
    CDirSnapshot newer = snapshot({{u"\\f", kFile, u"2"}});
    CDirSnapshot olderCopy = older, newerCopy = newer;
    RecordingSink sink;
    CPatchInfo info = compareSnapshots(&sink, newer, older);
    EXPECT_EQ(info.OlderTreeID, calcFingerprint(olderCopy, &sink));
    EXPECT_EQ(info.NewerTreeID, calcFingerprint(newerCopy, &sink));
    EXPECT_EQ(info.OlderTreeID.size(), 40u);
}

TEST(CompareSnapshots, EntriesAndIgnoredItems) {
    CDirSnapshot older = snapshot({{u"\\f", kFile, u"1"}});
    CDirSnapshot newer = snapshot({{u"\\f", kFile, u"1"}});
    older.filterText = newer.filterText = u"*.tmp;\\Debug";
    older.ignoredItems = {u"\\x.tmp", u"\\Debug"};
    newer.ignoredItems = {u"\\y.tmp"};
    RecordingSink sink;
    CPatchInfo info = compareSnapshots(&sink, newer, older);
    EXPECT_EQ(info.filter, u"*.tmp;\\Debug");
    EXPECT_EQ(info.ignoredOld, (PathList{u"\\x.tmp", u"\\Debug"}));
    EXPECT_EQ(info.ignoredNew, PathList{u"\\y.tmp"});
    EXPECT_TRUE(info.UnlinkedFiles.empty()); // ignored items are never compared
    EXPECT_TRUE(info.NewFiles.empty());
    std::vector<std::u16string> keys;
    for (const auto& [key, value] : info.infoEntries)
        if (key != u"ComputerName" && key != u"UserName") // absent where they cannot be read
            keys.push_back(key);
    const std::vector<std::u16string> expected = {
        u"AttributeChanges", u"ChangedFiles",

        u"DateCreated",      u"NewDirs",      u"NewFiles",    u"NewerDir",
        u"NewerTreeID",      u"OlderDir",     u"OlderTreeID", u"UnlinkedDirectories",
        u"UnlinkedFiles",

        u"ignoredNew",       u"ignoredOld"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(info.infoEntries[u"ignoredOld"], u"2");
    EXPECT_EQ(info.infoEntries[u"ignoredNew"], u"1");
}

TEST(CompareSnapshots, FiltersMustMatchExactly) {
    CDirSnapshot older, newer;
    older.filterText = u"*.obj;*.tmp";
    newer.filterText = u"*.obj; *.tmp";
    RecordingSink sink;
    EXPECT_EQ(errorOf([&] { compareSnapshots(&sink, newer, older); }),
              "Ignored filters do not match: new:*.obj; *.tmp old:*.obj;*.tmp");
}

TEST(CompareSnapshots, ProgressStages) {
    CDirSnapshot older =
        snapshot({{u"\\d", kDir, u""}, {u"\\f", kFile, u"1"}, {u"\\g", kFile, u"2"}});
    CDirSnapshot newer = snapshot({{u"\\f", kFile, u"1"}});
    RecordingSink sink;
    compareSnapshots(&sink, newer, older);
    auto at = [&](const std::string& status) {
        return std::find(sink.calls.begin(), sink.calls.end(), "status:" + status);
    };
    auto removal = at("Detecting deleted files...");
    auto addition = at("Comparing files...");
    ASSERT_NE(removal, sink.calls.end());
    ASSERT_NE(addition, sink.calls.end());
    EXPECT_EQ(std::vector<std::string>(removal + 1, addition),
              (std::vector<std::string>{"range:3", "reset", "step", "step", "step"}));
    EXPECT_EQ(std::vector<std::string>(addition + 1, addition + 4),
              (std::vector<std::string>{"range:1", "reset", "step"}));
}

TEST(CompareSnapshots, CancelPassesThrough) {
    CDirSnapshot older = snapshot({{u"\\f", kFile, u"1"}});
    CDirSnapshot newer = snapshot({{u"\\g", kFile, u"1"}});
    RecordingSink sink;
    sink.cancelAt("status", 3); // two fingerprint stages, then the removal stage
    EXPECT_EQ(errorOf([&] { compareSnapshots(&sink, newer, older); }), "cancelled");
}

TEST(AddSummaryEntries, CountsTheListsAndKeepsOtherEntries) {
    CPatchInfo info;
    info.infoEntries[u"DateCreated"] = u"kept";
    info.NewFiles = {u"\\a", u"\\b"};
    info.ignoredOld = {u"\\x"};
    info.AttributeChanges = {{u"\\a", 0x20}};
    info.OlderTreeID = u"old";
    info.NewerTreeID = u"new";
    CDirSnapshot newer, older;
    newer.root = u"N";
    older.root = u"vault.tkv";
    addSummaryEntries(info, newer, older);
    const TextMap expected = {{u"AttributeChanges", u"1"}, {u"ChangedFiles", u"0"},
                              {u"DateCreated", u"kept"},   {u"NewDirs", u"0"},
                              {u"NewFiles", u"2"},         {u"NewerDir", u"N"},
                              {u"NewerTreeID", u"new"},    {u"OlderDir", u"vault.tkv"},
                              {u"OlderTreeID", u"old"},    {u"UnlinkedDirectories", u"0"},
                              {u"UnlinkedFiles", u"0"},    {u"ignoredNew", u"0"},
                              {u"ignoredOld", u"1"}};
    EXPECT_EQ(info.infoEntries, expected);
}

} // namespace

// The patch information's maps are arrays in path order, whatever order entries come in.
TEST(PathMap, EntriesStayInPathOrderWhereverTheyAreAdded) {
    AttributeMap map;
    for (const char16_t* key : {u"\\b", u"\\d", u"\\a", u"\\c", u"\\d"})
        map[key] = key[1];
    map.insert_or_assign(map.end(), u"\\b", 7);
    EXPECT_FALSE(map.emplace(u"\\c", 9).second);
    map.assignAll({{u"\\a", 1}, {u"\\bb", 2}, {u"\\e", 3}});
    const std::vector<AttributeMap::value_type> expected = {
        {u"\\a", 1}, {u"\\b", 7}, {u"\\bb", 2}, {u"\\c", 'c'}, {u"\\d", 'd'}, {u"\\e", 3}};
    EXPECT_EQ(std::vector<AttributeMap::value_type>(map.begin(), map.end()), expected);
    EXPECT_EQ(map.erase(u"\\bb") + map.erase(u"\\x"), 1u);
    EXPECT_EQ(map.size(), 5u);
    // Of equal keys given at once, the first stays, as std::map keeps it.
    EXPECT_EQ((AttributeMap{{u"\\z", 1}, {u"\\z", 2}}).at(u"\\z"), 1u);
}
