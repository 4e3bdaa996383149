// The typed records of the patch format: byte layout, read errors, file records.
#include "allocprobe.h"
#include "core/fileio.h"
#include "patch/metadatarecord.h"
#include "patchsupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace ostmere;
using namespace testing_support;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

class PatchFormat : public ::testing::Test {
  protected:
    // What the writes leave in a fresh file.
    std::string written(const std::function<void(CFileReader&)>& writes) {
        fs::path file = dir / (std::to_string(counter++) + ".w");
        {
            COutputFile out(u16(file));
            writes(out);
            EXPECT_TRUE(out.flush());
        }
        return readFile(file);
    }
    // A reader positioned at the start of the given bytes.
    std::unique_ptr<CInputFile> reader(const std::string& content) {
        fs::path file = dir / (std::to_string(counter++) + ".r");
        writeFile(file, content);
        return std::make_unique<CInputFile>(u16(file));
    }

    TempDir dir;
    int counter = 0;
};

TEST_F(PatchFormat, RecordsAreByteExact) {
    struct Case {
        const char* what;
        std::function<void(CFileReader&)> write;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"string ab", [](CFileReader& f) { f.writeString(u"ab"); },
         bytes({0x10, 0x11, 2, 0, 0, 0, 0x61, 0, 0x62, 0})},
        {"empty string", [](CFileReader& f) { f.writeString(u""); },
         bytes({0x10, 0x11, 0, 0, 0, 0})},
        {"string stops at NUL", [](CFileReader& f) { f.writeString(std::u16string(u"a\0b", 3)); },
         bytes({0x10, 0x11, 1, 0, 0, 0, 0x61, 0})},
        {"non-ASCII unit", [](CFileReader& f) { f.writeString(u"\u20ac"); },
         bytes({0x10, 0x11, 1, 0, 0, 0, 0xac, 0x20})},
        {"dword", [](CFileReader& f) { f.writeDword(0x01020304); }, bytes({0x11, 4, 3, 2, 1})},
        {"qword", [](CFileReader& f) { f.writeQword(0x0102030405060708ull); },
         bytes({0x14, 8, 7, 6, 5, 4, 3, 2, 1})},
        {"empty list", [](CFileReader& f) { f.writeStringList({}); },
         bytes({0x12, 0x11, 0, 0, 0, 0})},
        {"list keeps order",
         [](CFileReader& f) {
             f.writeStringList({u"b", u"a"});
         },
         bytes({0x12, 0x11, 2, 0,    0,    0, 0x10, 0x11, 1, 0,   0,
                0,    'b',  0, 0x10, 0x11, 1, 0,    0,    0, 'a', 0})},
        {"empty info map", [](CFileReader& f) { f.writeInfoMap({}); },
         bytes({0x17, 0x11, 0, 0, 0, 0})},
        {"info map",
         [](CFileReader& f) {
             f.writeInfoMap({{u"k", u"v"}});
         },
         bytes({0x17, 0x11, 1, 0,    0,    0, 0x10, 0x11, 1, 0,   0,
                0,    'k',  0, 0x10, 0x11, 1, 0,    0,    0, 'v', 0})},
        {"attribute map in key order",
         [](CFileReader& f) {
             f.writeAttributeMap({{u"b", 0x21}, {u"a", 0x10}});
         },
         bytes({0x16, 0x11, 2, 0,    0,    0, 0x10, 0x11, 1, 0,   0, 0,    'a',  0, 0x11, 0x10,
                0,    0,    0, 0x10, 0x11, 1, 0,    0,    0, 'b', 0, 0x11, 0x21, 0, 0,    0})},
        {"file table",
         [](CFileReader& f) {
             f.writeFileTable({{u"x", 0x105}});
         },
         bytes({0x15, 0x11, 1,    0, 0, 0, 0x10, 0x11, 1, 0, 0, 0,
                'x',  0,    0x14, 5, 1, 0, 0,    0,    0, 0, 0})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hexBytes(written(c.write)), hexBytes(c.expected)) << c.what;
}

TEST_F(PatchFormat, ReadsGiveBackWhatWasWritten) {
    const std::map<std::u16string, std::u16string> info = {{u"A", u"1"}, {u"b", u""}};
    const AttributeMap attrs = {{u"\\x", 0x21}, {u"\\y\\z", 0x10}};
    const FileTable table = {{u"\\f", 0x123456789ull}};
    const std::deque<std::u16string> list = {u"\\z", u"\\a b", u"\\\xdc80"};
    auto in = reader(written([&](CFileReader& f) {
        f.writeString(u"text");
        f.writeDword(0xfffffffe);
        f.writeQword(0xfffffffffffffffeull);
        f.writeStringList(list);
        f.writeInfoMap(info);
        f.writeAttributeMap(attrs);
        f.writeFileTable(table);
    }));
    EXPECT_EQ(in->readString(), u"text");
    EXPECT_EQ(in->readDword(), 0xfffffffeu);
    EXPECT_EQ(in->readQword(), 0xfffffffffffffffeull);
    std::deque<std::u16string> readList = {u"\\kept"};
    in->readStringList(readList);
    std::deque<std::u16string> expectedList = {u"\\kept"};
    expectedList.insert(expectedList.end(), list.begin(), list.end());
    EXPECT_EQ(readList, expectedList); // appended, not replaced
    EXPECT_EQ(in->readInfoMap(), info);
    EXPECT_EQ(in->readAttributeMap(), attrs);
    EXPECT_EQ(in->readFileTable(), table);
    EXPECT_TRUE(in->eof());
}

TEST_F(PatchFormat, StoredTextEndsAtItsFirstNul) {
    auto in = reader(bytes({0x10, 0x11, 3, 0, 0, 0, 'a', 0, 0, 0, 'b', 0, 0x11, 7, 0, 0, 0}));
    EXPECT_EQ(in->readString(), u"a");
    EXPECT_EQ(in->readDword(), 7u); // all three stored units were consumed
}

TEST_F(PatchFormat, RepeatedMapKeyKeepsItsLastValue) {
    auto in = reader(written([](CFileReader& f) {
        f.writeType(TYPE_ATTRIBUTE_MAP);
        f.writeDword(2);
        f.writeString(u"\\a");
        f.writeDword(1);
        f.writeString(u"\\a");
        f.writeDword(2);
    }));
    EXPECT_EQ(in->readAttributeMap(), (AttributeMap{{u"\\a", 2}}));
}

// A crafted patch may list its words in any order; they are read in path order all the same.
TEST_F(PatchFormat, MapKeysOutOfOrderAreReadInPathOrder) {
    auto in = reader(written([](CFileReader& f) {
        f.writeType(TYPE_ATTRIBUTE_MAP);
        f.writeDword(4);
        for (const char16_t* key : {u"\\c", u"\\a", u"\\b", u"\\a"}) {
            f.writeString(key);
            f.writeDword(key[1]);
        }
    }));
    const AttributeMap read = in->readAttributeMap();
    EXPECT_EQ(std::vector<AttributeMap::value_type>(read.begin(), read.end()),
              (std::vector<AttributeMap::value_type>{{u"\\a", 'a'}, {u"\\b", 'b'}, {u"\\c", 'c'}}));
    EXPECT_EQ(read.at(u"\\b"), uint32_t('b'));
    EXPECT_EQ(read.count(u"\\d"), 0u);
}

// Every read error of the format, and that no length or count read from the file is
// allocated before it has been checked against what the file still holds.
TEST_F(PatchFormat, ShortAndMistypedReadsRaiseTheirMessages) {
    using Read = std::function<void(CFileReader&)>;
    const Read type = [](CFileReader& f) { f.readType(TYPE_STRING); };
    const Read dword = [](CFileReader& f) { f.readDword(); };
    const Read qword = [](CFileReader& f) { f.readQword(); };
    const Read string = [](CFileReader& f) { f.readString(); };
    const Read list = [](CFileReader& f) {
        std::deque<std::u16string> l;
        f.readStringList(l);
    };
    const Read infoMap = [](CFileReader& f) { f.readInfoMap(); };
    const Read attrMap = [](CFileReader& f) { f.readAttributeMap(); };
    const Read table = [](CFileReader& f) { f.readFileTable(); };
    const Read buffer10 = [](CFileReader& f) {
        char b[10];
        f.readBuffer(b, 10);
    };
    const Read header = [](CFileReader& f) { f.readHeader(); };
    const std::string magic = kPatchMagic;
    const std::string huge = bytes({0xff, 0xff, 0xff, 0x7f});
    struct Case {
        const char* what;
        Read read;
        std::string content;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"type at end", type, "", "Unable to read a type."},
        {"wrong tag", type, bytes({0x11}), "Type mismatch."},
        {"dword where a string is expected", string, bytes({0x11, 1, 0, 0, 0}), "Type mismatch."},
        {"dword tag missing", dword, "", "Unable to read a type."},
        {"dword short", dword, bytes({0x11, 1, 2, 3}), "Unable to read dword from a patch."},
        {"qword short", qword, bytes({0x14, 1, 2, 3, 4, 5, 6, 7}),
         "Unable to write DWORD into a patch file."},
        {"qword tag wrong", qword, bytes({0x11, 1, 2, 3, 4, 5, 6, 7, 8}), "Type mismatch."},
        {"buffer short", buffer10, "123456789", "Unable to read a buffer from a patch."},
        {"string length tag wrong", string, bytes({0x10, 0x14, 1, 0, 0, 0}), "Type mismatch."},
        {"string short", string, bytes({0x10, 0x11, 3, 0, 0, 0, 'a', 0, 'b', 0, 'c'}),
         "Unable to read a buffer from a patch."},
        {"string length beyond the file", string, bytes({0x10, 0x11}) + huge + "abcd",
         "Unable to read a buffer from a patch."},
        {"list count beyond the file", list,
         bytes({0x12, 0x11}) + huge + bytes({0x10, 0x11, 0, 0, 0, 0}), "Unable to read a type."},
        {"list tag wrong", list, bytes({0x10, 0x11, 0, 0, 0, 0}), "Type mismatch."},
        {"info map count beyond the file", infoMap, bytes({0x17, 0x11}) + huge,
         "Unable to read a type."},
        {"info map value missing", infoMap, bytes({0x17, 0x11, 1, 0, 0, 0, 0x10, 0x11, 0, 0, 0, 0}),
         "Unable to read a type."},
        {"attribute map count beyond the file", attrMap, bytes({0x16, 0x11}) + huge,
         "Unable to read a type."},
        {"attribute word short", attrMap,
         bytes({0x16, 0x11, 1, 0, 0, 0, 0x10, 0x11, 0, 0, 0, 0, 0x11, 1}),
         "Unable to read dword from a patch."},
        {"file table count beyond the file", table, bytes({0x15, 0x11}) + huge,
         "Unable to read a type."},
        {"file table position short", table,
         bytes({0x15, 0x11, 1, 0, 0, 0, 0x10, 0x11, 0, 0, 0, 0, 0x14, 1}),
         "Unable to write DWORD into a patch file."},
        {"map read as another map", table, bytes({0x16, 0x11, 0, 0, 0, 0}), "Type mismatch."},
        {"file shorter than the magic", header, "tkDiffPatch",
         "Unable to read a buffer from a patch."},
        {"empty file", header, "", "Unable to read a buffer from a patch."},
        {"wrong magic", header, "tkDiffPatch 01.01.03" + bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0}),
         "Unable to open a patch file, missing magic number."},
        {"flag 0", header, magic + bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0, 0, 0, 0}),
         "This patch file has not been properly written."},
        {"flag 2", header, magic + bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 2, 0, 0, 0}),
         "This patch file has not been properly written."},
        {"flag 0x100000001 is not 1", header,
         magic + bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 1, 0, 0, 1}),
         "This patch file has not been properly written."},
        {"header qword missing", header, magic + bytes({0x11, 1, 0, 0, 0}), "Type mismatch."},
        {"header flag cut", header, magic + bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 1}),
         "Unable to read dword from a patch."},
    };
    for (const auto& c : cases) {
        auto in = reader(c.content);
        std::string message;
        size_t largest = largestAllocationSince([&] { message = errorOf([&] { c.read(*in); }); });
        EXPECT_EQ(message, c.message) << c.what;
        EXPECT_LT(largest, 1u << 20) << c.what;
    }
}

TEST_F(PatchFormat, CompletePatchStartsWithMagicTableAndFlag) {
    TempDir older, newer;
    makeTree(older.path(), {{"a", "1"}, {"gone", "x"}});
    makeTree(newer.path(), {{"a", "2"}, {"sub/new", "3"}, {"empty", ""}});
    fs::path patch = dir / "p.tkp";
    diffPatch(older.path(), newer.path(), patch);
    const std::string content = readFile(patch);
    ASSERT_GT(content.size(), 34u);
    EXPECT_EQ(content.substr(0, 20), "tkDiffPatch 01.01.02");
    EXPECT_EQ(content[20], 0x14);
    EXPECT_EQ(hexBytes(content.substr(29, 5)), "11 01 00 00 00");

    auto in = reader(content);
    const uint64_t tablePosition = in->readHeader();
    EXPECT_EQ(in->tell(), 34u);
    EXPECT_EQ(static_cast<uint8_t>(content.at(tablePosition)), TYPE_FILE_TABLE);
    CPatchInfo info;
    readPatchInfoBlock(*in, info, nullptr);
    EXPECT_EQ(info.NewFiles, (PathList{u"\\empty", u"\\sub\\new"}));
    EXPECT_EQ(info.ChangedFiles, PathList{u"\\a"});
    // The records follow the information block in path order, and the table names them.
    in->seek(tablePosition);
    const FileTable table = in->readFileTable();
    // The metadata record follows the table and ends the file.
    readMetadataRecord(*in, info);
    EXPECT_TRUE(in->eof());
    EXPECT_EQ(info.metadata.size(), 4u); // the three stored files and the new directory
    ASSERT_EQ(table.size(), 3u);
    uint64_t previous = 0;
    for (const auto& [path, position] : table) {
        EXPECT_GT(position, previous) << utf16ToUtf8(path);
        previous = position;
        in->seek(position);
        in->readType(TYPE_FILE);
        EXPECT_EQ(in->readString(), path);
    }
}

TEST_F(PatchFormat, IdenticalTreesGiveACompletePatchWithNothingInIt) {
    TempDir tree;
    makeTree(tree.path(), {{"a", "1"}, {"d/", ""}});
    fs::path patch = dir / "p.tkp";
    diffPatch(tree.path(), tree.path(), patch);
    auto in = reader(readFile(patch));
    const uint64_t tablePosition = in->readHeader();
    CPatchInfo info;
    readPatchInfoBlock(*in, info, nullptr);
    EXPECT_EQ(in->tell(), tablePosition); // no file records
    EXPECT_TRUE(info.AttributeChanges.empty());
    EXPECT_TRUE(in->readFileTable().empty());
    EXPECT_EQ(info.OlderTreeID, info.NewerTreeID);
}

TEST_F(PatchFormat, FileLargerThanTheWorkBufferIsOneRecordWithItsWholeSize) {
    std::string content(10000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + i / 251);
    writeFile(dir / "src/big", content);
    RecordingSink sink(4096);
    const std::string record = written([&](CFileReader& f) {
        f.writeString(u"lead"); // the record need not start at 0
        EXPECT_EQ(f.writeFileRecord(&sink, u16(dir / "src"), u"\\big"), 14u);
    });
    const std::string head = bytes({0x13, 0x10, 0x11, 4, 0, 0, 0}) +
                             bytes({'\\', 0, 'b', 0, 'i', 0, 'g', 0}) +
                             bytes({0x14, 0x10, 0x27, 0, 0, 0, 0, 0, 0});
    ASSERT_EQ(record.size(), 14 + head.size() + content.size());
    EXPECT_EQ(hexBytes(record.substr(14, head.size())), hexBytes(head));
    EXPECT_TRUE(record.substr(14 + head.size()) == content);

    fs::create_directories(dir / "out");
    auto in = reader(record);
    EXPECT_TRUE(in->extractFile(false, &sink, 14, u16(dir / "out")));
    EXPECT_TRUE(readFile(dir / "out/big") == content);
}

TEST_F(PatchFormat, EmptyFileIsARecordOfSizeZero) {
    writeFile(dir / "src/e", "");
    RecordingSink sink;
    const std::string record =
        written([&](CFileReader& f) { f.writeFileRecord(&sink, u16(dir / "src"), u"\\e"); });
    EXPECT_EQ(hexBytes(record), "13 10 11 02 00 00 00 5c 00 65 00 14 00 00 00 00 00 00 00 00");
    fs::create_directories(dir / "out");
    auto in = reader(record);
    in->extractFile(false, &sink, 0, u16(dir / "out"));
    ASSERT_TRUE(fs::is_regular_file(dir / "out/e"));
    EXPECT_EQ(fs::file_size(dir / "out/e"), 0u);
}

TEST_F(PatchFormat, ExtractionTracesWouldWriteAndReplacesAReadOnlyFile) {
    writeFile(dir / "src/f", "new content");
    RecordingSink sink;
    const std::string record =
        written([&](CFileReader& f) { f.writeFileRecord(&sink, u16(dir / "src"), u"\\f"); });
    writeFile(dir / "out/f", "a much longer old content");
    makeReadOnly(dir / "out/f");
    auto in = reader(record);
    in->extractFile(false, &sink, 0, u16(dir / "out"));
    EXPECT_EQ(readFile(dir / "out/f"), "new content"); // removed first, not overwritten
    ASSERT_EQ(sink.traces.size(), 1u);
    EXPECT_EQ(sink.traces[0], "Would write" + (dir / "out").string() + "\\\\f");
}

TEST_F(PatchFormat, RecordCutByTheEndOfThePatch) {
    writeFile(dir / "src/f", "0123456789");
    RecordingSink sink;
    std::string record =
        written([&](CFileReader& f) { f.writeFileRecord(&sink, u16(dir / "src"), u"\\f"); });
    record.resize(record.size() - 4);
    fs::create_directories(dir / "out");
    auto strict = reader(record);
    EXPECT_EQ(errorOf([&] { strict->extractFile(false, &sink, 0, u16(dir / "out")); }),
              "Unable to fully read a patch file content");
    auto tolerant = reader(record);
    EXPECT_TRUE(tolerant->extractFile(true, &sink, 0, u16(dir / "out")));
    EXPECT_EQ(readFile(dir / "out/f"), "012345");
}

TEST_F(PatchFormat, SourceFileThatCannotBeOpenedOrRead) {
    RecordingSink sink;
    // An entry inside gives the directory a non-zero size on every file system.
    writeFile(dir / "src/adir/inside", "x");
    written([&](CFileReader& f) {
        EXPECT_EQ(errorOf([&] { f.writeFileRecord(&sink, u16(dir / "src"), u"\\missing"); }),
                  "Unable to ioen file:" + (dir / "src").string() + "\\missing");
        // A directory opens but yields no bytes of the size it reports.
        EXPECT_EQ(errorOf([&] { f.writeFileRecord(&sink, u16(dir / "src"), u"\\adir"); }),
                  "Unable read a source file:" + (dir / "src").string() + "\\adir");
    });
}

TEST_F(PatchFormat, WriteFailuresAreReported) {
    COutputFile closed;
    EXPECT_EQ(errorOf([&] { closed.writeType(TYPE_DWORD); }), "Unable write a type to a patch.");

    COutputFile full(u"\\dev\\full");
    std::string block(64 * 1024, 'x');
    EXPECT_EQ(errorOf([&] { full.writeBuffer(block.data(), block.size()); }),
              "Unable write buffer to a patch. exp:65536 actual:0");
}

// Small records are combined before they reach the file. A failure to write them out must
// not be forgotten when the writer seeks back to the header, where a later write succeeds.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }

  private:
    rlimit saved_;
    sighandler_t previous_;
};

TEST_F(PatchFormat, CombinedWriteFailureSurvivesASeek) {
    fs::path file = dir / "limited";
    FileSizeLimit limit(100);
    COutputFile out(u16(file));
    for (int i = 0; i < 20; ++i)
        out.writeString(u"0123456789");
    out.seek(0);
    out.writeDword(1);
    EXPECT_EQ(errorOf([&] { flushPatch(out); }).rfind("Unable write buffer to a patch.", 0), 0u);
}

TEST_F(PatchFormat, PatchWriterReportsAFullDisk) {
    TempDir older, newer;
    makeTree(older.path(), {{"a", "1"}});
    makeTree(newer.path(), {{"a", std::string(3000, 'x')}, {"b", "2"}});
    fs::path patch = dir / "p.tkp";
    std::string message;
    {
        FileSizeLimit limit(1000);
        message = errorOf([&] { diffPatch(older.path(), newer.path(), patch); });
    }
    EXPECT_EQ(message.rfind("Unable write buffer to a patch.", 0), 0u) << message;
    // The incomplete patch never takes the path, and its temporary file is gone.
    EXPECT_FALSE(fs::exists(patch));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

} // namespace

namespace {

// Paths \d<i>\f<i> for i in [from, to), in descending order: the lists need not be sorted.
PathList manyPaths(int from, int to) {
    PathList paths;
    for (int i = to - 1; i >= from; --i)
        paths.push_back(utf8ToUtf16("\\d" + std::to_string(i % 97) + "\\f" + std::to_string(i)));
    return paths;
}

TEST(PatchLayoutCheck, FiftyThousandFilesLoadAndMismatchesAreNamed) {
    TempDir dir;
    CPatchInfo info;
    info.NewFiles = manyPaths(0, 30000);
    info.ChangedFiles = manyPaths(30000, 50000);
    info.ChangedFiles.push_back(info.ChangedFiles.front()); // listed twice, stored once
    std::vector<StoredFile> files;
    for (const PathList* list : {&info.NewFiles, &info.ChangedFiles})
        for (size_t i = 0; i + (list == &info.ChangedFiles) < list->size(); ++i)
            files.push_back({(*list)[i], "", u""});
    writeCraftedPatch(dir / "all.tkp", info, files);
    const CPatchInfo loaded = loadInfo(dir / "all.tkp");
    EXPECT_EQ(loaded.NewFiles, info.NewFiles);
    EXPECT_EQ(loaded.ChangedFiles, info.ChangedFiles);

    // A stored file no list names, sorting between listed ones, and one after all of them.
    for (const std::u16string extra : {u"\\d5\\f5x", u"\\zz"}) {
        std::vector<StoredFile> more = files;
        more.push_back({extra, "", u""});
        writeCraftedPatch(dir / "extra.tkp", info, more);
        EXPECT_EQ(errorOf([&] { loadInfo(dir / "extra.tkp"); }),
                  "The patch's file table does not match its file lists: " + utf16ToUtf8(extra));
    }
    // A listed file that is not stored is named by the first list that holds it.
    std::vector<StoredFile> fewer(files.begin() + 1, files.end());
    writeCraftedPatch(dir / "fewer.tkp", info, fewer);
    EXPECT_EQ(errorOf([&] { loadInfo(dir / "fewer.tkp"); }),
              "The patch's file table does not match its file lists: " +
                  utf16ToUtf8(info.NewFiles.front()));
}

} // namespace
