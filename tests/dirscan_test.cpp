// Ignore filters, the tree walk, the scan's stages and the creation info entries.
#include "core/fileReader.h"
#include "core/names.h"
#include "expecterr.h"
#include "snapshot/dirscan.h"
#include "snapshotsupport.h"
#include "testsupport.h"

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <pwd.h>
#include <regex>
#include <set>
#include <unistd.h>

using namespace ostmere;
using namespace testing_support;

namespace {

using Strings = std::vector<std::string>;

Strings sorted(Strings s) {
    std::sort(s.begin(), s.end());
    return s;
}

// The calls the sink saw from the first one equal to `from` up to (not including) `to`.
Strings callsBetween(const RecordingSink& sink, const std::string& from, const std::string& to) {
    Strings out;
    bool inside = false;
    for (const auto& c : sink.calls) {
        if (c == from)
            inside = true;
        else if (c == to && inside)
            break;
        else if (inside)
            out.push_back(c);
    }
    return out;
}

TEST(IgnoreFilter, PatternTable) {
    struct Case {
        std::u16string filter, path;
        bool ignored;
    };
    const Case cases[] = {
        // *.obj: an after-star literal anywhere behind at least one code unit
        {u"*.obj", u"\\a.obj", true},
        {u"*.obj", u"\\x.objects\\y", true},
        {u"*.obj", u"\\sub\\deep\\b.obj", true},
        {u"*.obj", u"\\a.ob", false},
        {u"*.obj", u"\\a.OBJ", false},
        {u"*.OBJ", u"\\a.obj", false},
        // Debug*: the literal with at least one code unit behind it
        {u"Debug*", u"\\Debug\\a.obj", true},
        {u"Debug*", u"\\MyDebugger", true},
        {u"Debug*", u"\\Debug", false},
        {u"Debug*", u"\\debug\\a", false},
        {u"*tmp*", u"\\tmp\\x", true},
        {u"*tmp*", u"\\tmp", false},
        // \Debug: exact, the whole relative path
        {u"\\Debug", u"\\Debug", true},
        {u"\\Debug", u"\\Debug\\a.obj", false},
        {u"\\Debug", u"\\sub\\Debug", false},
        {u"\\Debug", u"\\Debugger", false},
        {u"\\Debug", u"\\debug", false},
        {u"Debug", u"\\Debug", false},
        // a*b: an a, then a b at least one code unit later; only the first occurrence of
        // each literal is tried
        {u"a*b", u"\\axb", true},
        {u"a*b", u"\\xaxxbx", true},
        {u"a*b", u"\\ab", false},
        {u"a*b", u"\\ba", false},
        {u"a*b", u"\\abxb", false},
        {u"*\\sub", u"\\x\\sub", true},
        {u"*\\sub", u"\\sub", false},
        // patterns that yield no segment never match
        {u"", u"\\a", false},
        {u"*", u"\\a", false},
        {u"**", u"\\a", false},
        // ";" splitting: empty pieces never match, a trailing ";" adds nothing, blanks stay
        {u"*.obj;", u"\\a.obj", true},
        {u"*.obj;", u"\\a", false},
        {u";*.obj", u"\\a.obj", true},
        {u"*.tmp;;\\Debug", u"\\Debug", true},
        {u"*.tmp;*.obj", u"\\a.obj", true},
        {u"*.tmp;*.obj", u"\\a.pch", false},
        {u"*.obj; *.pch", u"\\a.pch", false},
        {u"*.obj; *.pch", u"\\a b.pch", true},
        {u";", u"\\a", false},
        // literals longer than any fixed work area
        {std::u16string(300, u'x').append(u"*"),
         std::u16string(u"\\").append(300, u'x').append(u"y"), true},
        {std::u16string(u"*").append(300, u'x'), std::u16string(u"\\").append(299, u'x'), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(compileFilter(c.filter).matches(c.path), c.ignored)
            << "filter " << utf16ToUtf8(c.filter).substr(0, 40) << " path "
            << utf16ToUtf8(c.path).substr(0, 40);
}

TEST(IgnoreFilter, SplitFirst) {
    struct Case {
        std::u16string text;
        bool found;
        std::u16string before, after;
    };
    const Case cases[] = {{u"a;b", true, u"a", u"b"},   {u"a;b;c", true, u"a", u"b;c"},
                          {u"abc", false, u"abc", u""}, {u";x", true, u"", u"x"},
                          {u"a;", true, u"a", u""},     {u"", false, u"", u""}};
    for (const auto& c : cases) {
        std::u16string before = u"junk", after = u"junk";
        EXPECT_EQ(splitFirst(c.text, u';', before, after), c.found) << utf16ToUtf8(c.text);
        EXPECT_EQ(before, c.before) << utf16ToUtf8(c.text);
        EXPECT_EQ(after, c.after) << utf16ToUtf8(c.text);
    }
}

TEST(Scan, EmptyDirectoryMakesEveryStageWithZeroSteps) {
    TempDir tmp;
    RecordingSink sink;
    CDirSnapshot s = scanDirectory(&sink, tmp.u16(), u"");
    EXPECT_EQ(sink.calls,
              (Strings{"status:Counting all files", "status:Collecting files...", "range:0",
                       "reset", "status:Getting File attributes...", "range:0", "reset",
                       "status:Calculating file ids...", "range:0", "reset"}));
    EXPECT_EQ(s.root, tmp.u16());
    EXPECT_TRUE(s.directories.empty() && s.files.empty() && s.ignoredItems.empty());
    EXPECT_TRUE(s.entries.empty() && s.infoEntries.empty());
}

TEST(Scan, SinkCallsOfEachStageInOrder) {
    TempDir tmp;
    makeTree(tmp.path(), {{"sub/b.txt", ""}, {"x.obj", "ignored"}});
    RecordingSink sink;
    CDirSnapshot s = scanDirectory(&sink, tmp.u16(), u"*.obj");
    EXPECT_EQ(sink.calls,
              (Strings{"status:Counting all files", "detail:Processing: \\sub",
                       "status:Collecting files...", "range:2", "reset", "step",
                       "detail:Processing: \\sub", "step", "status:Getting File attributes...",
                       "range:2", "reset", "step", "step", "status:Calculating file ids...",
                       "range:1", "reset", "detail:Processing: \\sub\\b.txt", "step"}));
    EXPECT_EQ(narrowed(s.directories), Strings{"\\sub"});
    EXPECT_EQ(narrowed(s.files), Strings{"\\sub\\b.txt"});
    EXPECT_EQ(narrowed(s.ignoredItems), Strings{"\\x.obj"});
    EXPECT_EQ(s.filterText, u"*.obj");
    EXPECT_EQ(s.fileIdOf(u"\\sub\\b.txt"), u"da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

// Each directory is walked in ordinal name order, whatever order the file system lists it in:
// "B" before "a", and U+1F600 (D83D DE00) before U+FF5E although its UTF-8 bytes sort after.
TEST(Scan, WalkIsDepthFirstInNameOrderAndCountsDriveThePassRanges) {
    TempDir tmp;
    makeTree(tmp.path(), {{"z/", ""},
                          {"sub/empty/", ""},
                          {"sub/deeper/c.txt", "c"},
                          {"sub/b.txt", "b"},
                          {"m.txt", "m"},
                          {"\xef\xbd\x9e", "tilde"},
                          {"\xf0\x9f\x98\x80", "smile"},
                          {"a.txt", "a"},
                          {"B.txt", "B"},
                          {".hidden", "h"}});
    const Strings dirs = {"\\sub", "\\sub\\deeper", "\\sub\\empty", "\\z"};
    const Strings files = {"\\.hidden",
                           "\\B.txt",
                           "\\a.txt",
                           "\\m.txt",
                           "\\sub\\b.txt",
                           "\\sub\\deeper\\c.txt",
                           "\\\xf0\x9f\x98\x80",
                           "\\\xef\xbd\x9e"};
    RecordingSink sink;
    CDirSnapshot s = scanDirectory(&sink, tmp.u16(), u"");
    EXPECT_EQ(narrowed(s.directories), dirs);
    EXPECT_EQ(narrowed(s.files), files);
    EXPECT_EQ(attributesIn(s).size(), dirs.size() + files.size());
    EXPECT_EQ(idsIn(s).size(), files.size());
    const std::string range = "range:" + std::to_string(dirs.size() + files.size());
    EXPECT_EQ(callsBetween(sink, "status:Collecting files...", "status:Getting File attributes...")
                  .front(),
              range);
    EXPECT_EQ(
        callsBetween(sink, "status:Getting File attributes...", "status:Calculating file ids...")
            .front(),
        range);
    // The counting walk names each directory and no file.
    Strings counted;
    for (const auto& d : dirs)
        counted.push_back("detail:Processing: " + d);
    EXPECT_EQ(callsBetween(sink, "status:Counting all files", "status:Collecting files..."),
              counted);
}

TEST(Scan, FiltersLeaveOutWholeSubtreesOrSingleEntries) {
    TempDir tmp;
    makeTree(tmp.path(), {{"a.txt", "a"},
                          {"x.objects/y", "y"},
                          {"sub/b.txt", "b"},
                          {"Debug/a.obj", "o"},
                          {"Debug/keep/", ""}});
    struct Case {
        std::u16string filter;
        Strings ignored, dirs, files;
    };
    const Case cases[] = {
        {u"*.obj",
         {"\\Debug\\a.obj", "\\x.objects"},
         {"\\Debug", "\\Debug\\keep", "\\sub"},
         {"\\a.txt", "\\sub\\b.txt"}},
        {u"\\sub",
         {"\\sub"},
         {"\\Debug", "\\Debug\\keep", "\\x.objects"},
         {"\\Debug\\a.obj", "\\a.txt", "\\x.objects\\y"}},
        {u"Debug*",
         {"\\Debug\\a.obj", "\\Debug\\keep"},
         {"\\Debug", "\\sub", "\\x.objects"},
         {"\\a.txt", "\\sub\\b.txt", "\\x.objects\\y"}},
        {u"\\Debug;*.txt",
         {"\\Debug", "\\a.txt", "\\sub\\b.txt"},
         {"\\sub", "\\x.objects"},
         {"\\x.objects\\y"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf16ToUtf8(c.filter));
        RecordingSink sink;
        CDirSnapshot s = scanDirectory(&sink, tmp.u16(), c.filter);
        EXPECT_EQ(s.filterText, c.filter);
        EXPECT_EQ(sorted(narrowed(s.ignoredItems)), c.ignored);
        EXPECT_EQ(sorted(narrowed(s.directories)), c.dirs);
        EXPECT_EQ(sorted(narrowed(s.files)), c.files);
        Strings attributed, identified;
        for (const auto& [path, word] : attributesIn(s))
            attributed.push_back(utf16ToUtf8(path));
        for (const auto& [path, id] : idsIn(s))
            identified.push_back(utf16ToUtf8(path));
        Strings both = c.dirs;
        both.insert(both.end(), c.files.begin(), c.files.end());
        EXPECT_EQ(attributed, sorted(both));
        EXPECT_EQ(identified, c.files);
    }
}

TEST(Scan, AttributeWordsFromTheFileMode) {
    TempDir tmp;
    makeTree(tmp.path(), {{"f", "x"}, {"ro", "x"}, {"d/", ""}, {"rod/", ""}, {".hidden", ""}});
    makeReadOnly(tmp / "ro");
    makeReadOnly(tmp / "rod");
    fs::permissions(tmp / "f", fs::perms::owner_exec, fs::perm_options::add);
    fs::create_symlink(tmp / "f", tmp / "linkToFile");
    fs::create_directory_symlink(tmp / "d", tmp / "linkToDir");
    RecordingSink sink;
    CDirSnapshot s = scanDirectory(&sink, tmp.u16(), u"");
    const std::map<std::u16string, uint32_t> expected = {
        {u"\\f", 0x20},       {u"\\ro", 0x21},          {u"\\d", 0x10},         {u"\\rod", 0x11},
        {u"\\.hidden", 0x20}, {u"\\linkToFile", 0x420}, {u"\\linkToDir", 0x420}};
    EXPECT_EQ(attributesIn(s), (AttributeMap(expected.begin(), expected.end())));
}

TEST(Snapshot, LookupsLeaveTheMapAsItIs) {
    CDirSnapshot s;
    s.setAttributes(u"\\a", 0x20);
    EXPECT_EQ(s.attributesOf(u"\\a"), 0x20u);
    EXPECT_EQ(s.attributesOf(u"\\b"), 0u);
    EXPECT_EQ(s.fileIdOf(u"\\b"), u"");
    EXPECT_EQ(s.entries.size(), 1u);
}

// A copy's lists must reach the copy's entries: changing or dropping the original leaves it.
TEST(Snapshot, ACopyOwnsWhatItsListsHold) {
    auto original = std::make_unique<CDirSnapshot>(
        snapshotOf({u"\\d"}, {u"\\d\\f", u"\\g"}, {{u"\\d", 16}, {u"\\d\\f", 32}},
                   {{u"\\d\\f", std::u16string(40, u'a')}, {u"\\g", u"odd"}}));
    CDirSnapshot copy = *original;
    CDirSnapshot assigned;
    assigned = *original;
    original->entry(u"\\d\\f").attributes = 33;
    original.reset();
    for (CDirSnapshot* s : {&copy, &assigned}) {
        EXPECT_EQ(listed(s->files), (std::vector<std::u16string>{u"\\d\\f", u"\\g"}));
        EXPECT_EQ(s->files.entryAt(0).attributes, 32u);
        EXPECT_EQ(&s->files.entryAt(0), s->find(u"\\d\\f"));
        EXPECT_EQ(s->files.entryAt(1).id.text(), u"odd");
        EXPECT_EQ(s->directories.entryAt(0).attributes, 16u);
    }
}

TEST(FileIds, DigestTextsAreHeldAsBytesAndOtherTextsAsWritten) {
    const std::u16string digest = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";
    std::u16string upper = digest;
    for (auto& c : upper)
        c = static_cast<char16_t>(std::toupper(c));
    for (const std::u16string& text : {digest, upper, std::u16string(u"x"), std::u16string()})
        EXPECT_EQ(CFileId::fromText(text).text(), text);
    EXPECT_TRUE(CFileId::fromText(digest) == CFileId::fromText(digest));
    EXPECT_FALSE(CFileId::fromText(upper) == CFileId::fromText(digest));
    EXPECT_TRUE(CFileId() == CFileId::fromText(u""));
    EXPECT_FALSE(CFileId().present());
}

// Names that are not valid UTF-8 next to valid ones: each must come back byte for byte.
const Strings kRawNames = {
    "caf\xe9.txt",      // Latin-1
    "caf\xc3\xa9.txt",  // the same word in UTF-8
    "\xff\xfe",         // never valid
    "\xed\xb3\xa9",     // an encoded surrogate
    "\xc0\xaf",         // an overlong form
    "a\x80",            // a lone continuation byte
    "\xe2\x82.txt",     // a sequence cut short
    "\xf4\x90\x80\x80", // beyond U+10FFFF
    "\xf0\x9f\x98\x80", // valid, outside the BMP
    "a\\b",             // a backslash, which the engine uses as its separator
    "\xef\x81\x9c",     // U+F05C, the stand-in for a backslash, as a name's own character
    "\\\xef\x81\x9c\\", // both, twice
};

TEST(RawNames, RelativePathsCarryTheBytesAndRecreateTheSameNames) {
    TempDir tmp;
    for (const auto& name : kRawNames)
        writeFile(tmp / name, "abc");
    writeFile(tmp / "dir\xfe" / "inner\xe9", "abc");
    RecordingSink sink;
    CDirSnapshot s = scanDirectory(&sink, tmp.u16(), u"");
    EXPECT_EQ(s.files.size(), kRawNames.size() + 1) << "distinct names must stay distinct";
    std::set<std::string> back;
    for (const auto& rel : s.files) {
        ASSERT_EQ(rel[0], u'\\');
        std::string bytes = nativeName(rel.substr(1));
        back.insert(bytes);
        EXPECT_EQ(readFile(tmp / bytes), "abc") << bytes;
        EXPECT_EQ(s.fileIdOf(rel), u"a9993e364706816aba3e25717850c26c9cd0d89d");
    }
    std::set<std::string> expected(kRawNames.begin(), kRawNames.end());
    expected.insert("dir\xfe/inner\xe9");
    EXPECT_EQ(back, expected);
    // The forms the platform notes promise: undecodable bytes as U+DC80..U+DCFF.
    const std::set<std::u16string> rels(s.files.begin(), s.files.end());
    EXPECT_EQ(rels.count(u"\\caf\xdce9.txt"), 1u);
    EXPECT_EQ(rels.count(u"\\caf\u00e9.txt"), 1u);
    EXPECT_EQ(rels.count(u"\\\U0001F600"), 1u);
    EXPECT_EQ(rels.count(u"\\dir\xdcfe\\inner\xdce9"), 1u);
    // A "\" inside a name as U+F05C; a name's own U+F05C as the surrogates of its bytes.
    EXPECT_EQ(rels.count(u"\\a\xf05c"
                         u"b"),
              1u);
    EXPECT_EQ(rels.count(u"\\\xdcef\xdc81\xdc9c"), 1u);

    // Removing every file and writing it again through its relative path gives the same names.
    for (const auto& rel : s.files) {
        fs::remove(tmp / nativeName(rel.substr(1)));
        COutputFile out(tmp.u16() + rel);
        out.write("new", 3);
    }
    std::set<std::string> onDisk;
    for (const auto& e : fs::recursive_directory_iterator(tmp.path()))
        if (e.is_regular_file())
            onDisk.insert(fs::relative(e.path(), tmp.path()).string());
    std::set<std::string> expectedOnDisk(kRawNames.begin(), kRawNames.end());
    expectedOnDisk.insert("dir\xfe/inner\xe9");
    EXPECT_EQ(onDisk, expectedOnDisk);
}

// Links are items of their own, whatever they point at: never entered, so no cycle and no
// directory outside the tree is walked, and their content is their target text.
TEST(Links, AreListedAsLinksAndNeverEntered) {
    TempDir tmp;
    makeTree(tmp.path(), {{"sub/f", "x"}, {"a/", ""}, {"b/", ""}});
    fs::create_directory_symlink("..", tmp / "sub/up");
    fs::create_directory_symlink(".", tmp / "me");
    fs::create_directory_symlink("../b", tmp / "a/toB");
    fs::create_directory_symlink("../a", tmp / "b/toA");
    fs::create_directory_symlink("/", tmp / "root");
    fs::create_symlink("nowhere", tmp / "dangling");
    RecordingSink sink;
    CDirSnapshot s = scanDirectory(&sink, tmp.u16(), u"");
    EXPECT_EQ(sorted(narrowed(s.directories)), (Strings{"\\a", "\\b", "\\sub"}));
    EXPECT_EQ(sorted(narrowed(s.files)), (Strings{"\\a\\toB", "\\b\\toA", "\\dangling", "\\me",
                                                  "\\root", "\\sub\\f", "\\sub\\up"}));
    EXPECT_EQ(s.attributesOf(u"\\sub\\up"), 0x420u);
    EXPECT_EQ(utf16ToUtf8(s.fileIdOf(u"\\sub\\up")), sha1Of(".."));
    EXPECT_EQ(utf16ToUtf8(s.fileIdOf(u"\\dangling")), sha1Of("nowhere"));
    EXPECT_EQ(s.find(u"\\root")->meta.mode, 0777u);
    EXPECT_EQ(tkFingerprint(&sink, tmp.u16(), u"").size(), 40u);
}

// A throw-away locale with German day and month names, built with localedef when it is there.
bool switchToGermanTimeNames(const TempDir& tmp) {
    writeFile(tmp / "de.src",
              "LC_TIME\n"
              "abday \"So\";\"Mo\";\"Di\";\"Mi\";\"Do\";\"Fr\";\"Sa\"\n"
              "day \"Sonntag\";\"Montag\";\"Dienstag\";\"Mittwoch\";\"Donnerstag\";\"Freitag\";"
              "\"Samstag\"\n"
              "abmon \"Jan\";\"Feb\";\"Mrz\";\"Apr\";\"Mai\";\"Jun\";\"Jul\";\"Aug\";\"Sep\";"
              "\"Okt\";\"Nov\";\"Dez\"\n"
              "mon \"Januar\";\"Februar\";\"Maerz\";\"April\";\"Mai\";\"Juni\";\"Juli\";"
              "\"August\";\"September\";\"Oktober\";\"November\";\"Dezember\"\n"
              "d_t_fmt \"%a %d %b %Y %T\"\nd_fmt \"%d.%m.%Y\"\nt_fmt \"%T\"\n"
              "am_pm \"\";\"\"\nt_fmt_ampm \"\"\nEND LC_TIME\n");
    std::string command = "localedef -c -i '" + (tmp / "de.src").string() +
                          "' -f ANSI_X3.4-1968 '" + (tmp / "xx_DE").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) == -1 || !fs::exists(tmp / "xx_DE"))
        return false;
    setenv("LOCPATH", tmp.path().c_str(), 1);
    return std::setlocale(LC_ALL, "xx_DE") != nullptr;
}

class CreationTime : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = getenv("TZ");
        savedTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    }
    void TearDown() override {
        if (savedTz_)
            setenv("TZ", savedTz_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        std::setlocale(LC_ALL, "C");
        unsetenv("LOCPATH");
    }
    void useZone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    std::optional<std::string> savedTz_;
};

TEST_F(CreationTime, EnglishFixedWidthFormInLocalTime) {
    useZone("UTC");
    EXPECT_EQ(utf16ToUtf8(ctimeText(1796523188)), "Sun Dec 06 02:13:08 2026\n");
    EXPECT_EQ(utf16ToUtf8(ctimeText(1798967107)), "Sun Jan 03 09:05:07 2027\n");
    EXPECT_EQ(utf16ToUtf8(ctimeText(951782400)), "Tue Feb 29 00:00:00 2000\n");
    useZone("UTC-2"); // two hours east of Greenwich
    EXPECT_EQ(utf16ToUtf8(ctimeText(1796523188)), "Sun Dec 06 04:13:08 2026\n");
}

TEST_F(CreationTime, NamesStayEnglishUnderAnotherLocale) {
    TempDir tmp;
    if (!switchToGermanTimeNames(tmp))
        GTEST_SKIP() << "no localedef to build a test locale";
    useZone("UTC");
    char probe[32];
    std::tm t{};
    t.tm_wday = 0;
    std::strftime(probe, sizeof probe, "%a", &t);
    ASSERT_STREQ(probe, "So") << "the test locale is not in effect";
    EXPECT_EQ(utf16ToUtf8(ctimeText(1796523188)), "Sun Dec 06 02:13:08 2026\n");
}

TEST(CreationInfo, SetsThreeEntriesAndKeepsTheOthers) {
    TextMap entries = {{u"Other", u"kept"}, {u"DateCreated", u"old"}};
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    addCreationInfo(entries);
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    char host[260] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(utf16ToUtf8(entries.at(u"ComputerName")), host);
    EXPECT_EQ(utf16ToUtf8(entries.at(u"UserName")), getpwuid(geteuid())->pw_name);
    EXPECT_EQ(entries.at(u"Other"), u"kept");
    const std::u16string date = entries.at(u"DateCreated");
    EXPECT_TRUE(date == ctimeText(before) || date == ctimeText(after)) << utf16ToUtf8(date);
    EXPECT_TRUE(std::regex_match(utf16ToUtf8(date),
                                 std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                                            "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                            "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] "
                                            "[0-9]{4}\n")))
        << utf16ToUtf8(date);
    EXPECT_EQ(entries.size(), 4u);
}

} // namespace
