#include "core/fileio.h"
#include "snapshot/sha1.h"
#include "snapshot/treeread.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace ostmere;
using namespace testing_support;

namespace {

std::string hexOf(CSha1& sha) {
    uint8_t digest[20];
    sha.finish(digest);
    return utf16ToUtf8(digestToHex(digest));
}

struct Vector {
    std::string input;
    size_t repeat;
    const char* digest;
};

const Vector kVectors[] = {
    {"", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
};

class Sha1Paths : public ::testing::TestWithParam<bool> {};

TEST_P(Sha1Paths, StandardVectors) {
    if (GetParam() && !CSha1::acceleratedAvailable())
        GTEST_SKIP() << "processor has no SHA extensions";
    for (const auto& v : kVectors) {
        CSha1 sha(GetParam());
        ASSERT_EQ(sha.accelerated(), GetParam());
        for (size_t i = 0; i < v.repeat; ++i)
            sha.update(v.input.data(), v.input.size());
        EXPECT_EQ(hexOf(sha), v.digest) << v.input.substr(0, 10) << " x" << v.repeat;
    }
}

TEST_P(Sha1Paths, SplitFeedsGiveTheSameDigest) {
    if (GetParam() && !CSha1::acceleratedAvailable())
        GTEST_SKIP() << "processor has no SHA extensions";
    std::string data(1000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + 3);
    CSha1 whole(GetParam());
    whole.update(data.data(), data.size());
    const std::string expected = hexOf(whole);
    for (size_t split : {1u, 55u, 56u, 63u, 64u, 65u, 127u, 999u}) {
        CSha1 parts(GetParam());
        parts.update(data.data(), split);
        parts.update(data.data() + split, data.size() - split);
        EXPECT_EQ(hexOf(parts), expected) << "split at " << split;
    }
}

INSTANTIATE_TEST_SUITE_P(Portable, Sha1Paths, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(Accelerated, Sha1Paths, ::testing::Values(true));

TEST(Sha1, FinishClearsTheContextForTheNextStart) {
    CSha1 sha;
    sha.update("abc", 3);
    hexOf(sha);
    sha.start();
    EXPECT_EQ(hexOf(sha), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(HashFile, FileLargerThanTheWorkBufferIsHashedWhole) {
    TempDir dir;
    std::string content(3 * 4096 + 17, 'x');
    writeFile(dir / "big", content);
    RecordingSink sink(4096);
    CSha1 fromFile, direct;
    hashFile(&sink, u16(dir / "big"), fromFile);
    direct.update(content.data(), content.size());
    EXPECT_EQ(hexOf(fromFile), hexOf(direct));
}

TEST(HashFile, MissingFileIsRefusedWithItsPath) {
    TempDir dir;
    RecordingSink sink;
    CSha1 sha;
    try {
        hashFile(&sink, u16(dir / "none"), sha);
        FAIL() << "no error";
    } catch (const CTKErr& e) {
        EXPECT_EQ(utf16ToUtf8(e.message), "Unable to open file:" + (dir / "none").string());
        EXPECT_STREQ(e.file, "fileReader.cpp");
    }
}

} // namespace
