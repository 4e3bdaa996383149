// The descriptor and stream file classes and item removal.
#include "core/fileReader.h"
#include "core/fileio.h"
#include "core/itemcontent.h"
#include "expecterr.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace ostmere;
using namespace testing_support;

namespace {

size_t openDescriptors() {
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

std::string patterned(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 131 + i / 251);
    return s;
}

TEST(FileOpenErrors, EachClassNamesThePathInItsOwnText) {
    TempDir tmp;
    const std::u16string missing = u16(tmp / "none");
    const std::u16string noParent = u16(tmp / "no/such/out");
    struct Case {
        const char* name;
        std::function<void()> open;
        std::u16string message;
    };
    const Case cases[] = {
        {"input constructor", [&] { CInputFile f(missing); }, u"Unable to ioen file:" + missing},
        {"input open", [&] { CInputFile().open(missing); }, u"Unable to ioen file:" + missing},
        {"item content open", [&] { CItemContent().open(missing); },
         u"Unable to open file:" + missing},
        {"output constructor", [&] { COutputFile f(noParent); },
         u"Unable to open file:" + noParent},
        {"output open", [&] { COutputFile().open(noParent); }, u"Unable to open file:" + noParent},
    };
    const size_t descriptors = openDescriptors();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTKErr e = expectTKErr(c.open);
        EXPECT_EQ(utf16ToUtf8(e.message), utf16ToUtf8(c.message));
        EXPECT_STREQ(e.file, "fileReader.cpp");
        EXPECT_EQ(e.type, 0);
    }
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_FALSE(fs::exists(tmp / "no"));
}

TEST(InputFile, PositionsSizeAndEndOfFile) {
    TempDir tmp;
    writeFile(tmp / "f", "abcdef");
    CInputFile f;
    EXPECT_FALSE(f.isOpen());
    f.open(u16(tmp / "f"));
    EXPECT_FALSE(f.eof());
    char buf[16] = {};
    ASSERT_EQ(f.read(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(f.tell(), 3u);
    EXPECT_EQ(f.size(), 6);
    EXPECT_EQ(f.tell(), 3u) << "size() must leave the position where it was";
    ASSERT_EQ(f.read(buf, 16), 3u) << "a read returns the count actually read";
    EXPECT_EQ(std::string(buf, 3), "def");
    EXPECT_TRUE(f.eof());
    EXPECT_EQ(f.read(buf, 16), 0u);
    f.seek(1);
    EXPECT_FALSE(f.eof());
    ASSERT_EQ(f.read(buf, 2), 2u);
    EXPECT_EQ(std::string(buf, 2), "bc");
    EXPECT_EQ(f.tell(), 3u);

    writeFile(tmp / "empty", "");
    CInputFile empty(u16(tmp / "empty"));
    EXPECT_TRUE(empty.eof());
    EXPECT_EQ(empty.size(), 0);
}

TEST(InputFile, MixedSmallAndBulkReadsSeeTheFileInOrder) {
    TempDir tmp;
    const std::string content = patterned(300 * 1024 + 7);
    writeFile(tmp / "big", content);
    CInputFile f(u16(tmp / "big"));
    std::string got(content.size(), '\0');
    size_t at = 0;
    // Small reads go through read-ahead, large ones straight to the caller: alternate them.
    for (size_t n : {10u, 200u * 1024u, 1u, 70000u, 5u, 100000u}) {
        size_t r = f.read(&got[at], std::min(n, content.size() - at));
        at += r;
        EXPECT_EQ(f.tell(), at);
    }
    EXPECT_EQ(at, content.size());
    EXPECT_EQ(got, content);
    f.seek(123457);
    char c;
    ASSERT_EQ(f.read(&c, 1), 1u);
    EXPECT_EQ(c, content[123457]);
    EXPECT_EQ(f.size(), static_cast<int64_t>(content.size()));
    EXPECT_EQ(f.tell(), 123458u);
}

TEST(InputFile, SixtyFourBitPositions) {
    TempDir tmp;
    const uint64_t beyond4G = (uint64_t{1} << 32) + 5;
    writeFile(tmp / "sparse", "");
    fs::resize_file(tmp / "sparse", beyond4G + 3); // sparse: costs no disk space
    CInputFile f(u16(tmp / "sparse"));
    EXPECT_EQ(f.size(), static_cast<int64_t>(beyond4G + 3));
    f.seek(beyond4G);
    EXPECT_EQ(f.tell(), beyond4G);
    char buf[8];
    EXPECT_EQ(f.read(buf, 8), 3u);
    EXPECT_TRUE(f.eof());
}

TEST(OutputFile, CreatesAMissingFileAndNeverTruncates) {
    TempDir tmp;
    {
        COutputFile f(u16(tmp / "new"));
        EXPECT_EQ(f.write(nullptr, 0), 0u) << "an empty write touches no buffer";
        EXPECT_EQ(f.write("hello", 5), 5u);
        EXPECT_EQ(f.tell(), 5u);
        EXPECT_EQ(f.size(), 5);
    }
    EXPECT_EQ(readFile(tmp / "new"), "hello");

    writeFile(tmp / "old", "abcdefgh");
    {
        COutputFile f;
        f.open(u16(tmp / "old"));
        EXPECT_EQ(f.write("XY", 2), 2u);
    }
    EXPECT_EQ(readFile(tmp / "old"), "XYcdefgh");
}

TEST(OutputFile, SmallAndLargeWritesLandInOrderAndSeekOverwrites) {
    TempDir tmp;
    const std::string big = patterned(100 * 1024);
    {
        COutputFile f(u16(tmp / "out"));
        f.write("ab", 2);
        f.write(big.data(), big.size());
        f.write("cd", 2);
        f.seek(1);
        f.write("Z", 1);
        EXPECT_EQ(f.tell(), 2u);
        EXPECT_EQ(f.size(), static_cast<int64_t>(big.size() + 4));
    }
    EXPECT_EQ(readFile(tmp / "out"), "aZ" + big + "cd");
}

TEST(ItemContent, ReadsCountsAndClosesItsDescriptor) {
    TempDir tmp;
    writeFile(tmp / "f", "0123456789");
    fs::create_symlink("f", tmp / "l");
    const size_t descriptors = openDescriptors();
    {
        CItemContent c;
        ASSERT_TRUE(c.open(u16(tmp / "f")));
        char buf[8];
        EXPECT_EQ(c.size(), 10u);
        EXPECT_EQ(c.read(buf, 4), 4u);
        EXPECT_EQ(std::string(buf, 4), "0123");
        EXPECT_EQ(c.read(buf, 8), 6u);
        EXPECT_EQ(std::string(buf, 6), "456789");
        EXPECT_EQ(c.read(buf, 8), 0u);
        EXPECT_TRUE(c.sizeUnchanged());
        EXPECT_GT(openDescriptors(), descriptors);
        // The same object opened again reads a link as its own text, never what it points at.
        ASSERT_TRUE(c.open(u16(tmp / "l")));
        EXPECT_TRUE(c.isLink());
        EXPECT_EQ(c.read(buf, 8), 1u);
        EXPECT_EQ(buf[0], 'f');
        EXPECT_FALSE(CItemContent().open(u16(tmp.path()))) << "a directory has no content";
    }
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST(RemoveItem, FilesAndEmptyDirectoriesGoAlsoWhenReadOnly) {
    TempDir tmp;
    makeTree(tmp.path(), {{"f", "x"}, {"ro", "y"}, {"d/", ""}, {"rod/", ""}, {"target/t", "t"}});
    makeReadOnly(tmp / "ro");
    makeReadOnly(tmp / "rod");
    fs::create_directory_symlink(tmp / "target", tmp / "linkToDir");
    for (const char* name : {"f", "ro", "d", "rod", "linkToDir"}) {
        EXPECT_TRUE(removeItem(false, u16(tmp / name))) << name;
        EXPECT_FALSE(fs::exists(fs::symlink_status(tmp / name))) << name;
    }
    // A link is removed as itself; what it pointed at stays.
    EXPECT_EQ(readFile(tmp / "target/t"), "t");
}

TEST(RemoveItem, FailuresReturnFalseWhenTolerantAndRaiseOtherwise) {
    TempDir tmp;
    makeTree(tmp.path(), {{"full/inner", "x"}});
    makeReadOnly(tmp / "full");
    for (const std::u16string& path : {u16(tmp / "full"), u16(tmp / "missing")}) {
        SCOPED_TRACE(utf16ToUtf8(path));
        EXPECT_FALSE(removeItem(true, path));
        CTKErr e = expectTKErr([&] { removeItem(false, path); });
        EXPECT_EQ(utf16ToUtf8(e.message), "Unable to remove item. " + utf16ToUtf8(path));
        EXPECT_STREQ(e.file, "fileio.cpp");
    }
    // The directory stays as it was, except that its read-only bit was cleared on the way.
    EXPECT_EQ(describeTree(tmp.path()), (std::vector<std::string>{"full/", "full/inner=x"}));
    EXPECT_FALSE(fs::exists(tmp / "missing"));
}

} // namespace
