// Permission bits and modification times carried beside the base format: the patch's record
// after the file table, the vault's list after "VaultInfo", and what a patch carries.
#include "compare/metadiff.h"
#include "core/names.h"
#include "patch/metadatarecord.h"
#include "patchsupport.h"
#include "snapshot/metadata.h"
#include "snapshotsupport.h"
#include "xml/xmlrep.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

using namespace ostmere;
using namespace testing_support;

namespace {

void setTime(const fs::path& p, int64_t seconds, long nanos) {
    struct timespec times[2] = {{static_cast<time_t>(seconds), nanos},
                                {static_cast<time_t>(seconds), nanos}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << p;
}

CDirSnapshot scan(const fs::path& dir) {
    RecordingSink sink;
    return scanDirectory(&sink, u16(dir), u"");
}

// Where the metadata record starts: just after the file table, which the header locates.
size_t recordStart(const std::string& patch) {
    TempDir tmp;
    { std::ofstream(tmp / "p", std::ios::binary) << patch; }
    CInputFile file(u16(tmp / "p"));
    file.seek(file.readHeader());
    file.readFileTable();
    return static_cast<size_t>(file.tell());
}

class CarriedMetadata : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(base / "older", {{"same", "s"}, {"chmod", "c"}, {"touched", "t"}, {"d/f", "1"}});
        makeTree(base / "newer",
                 {{"same", "s"}, {"chmod", "c"}, {"touched", "t"}, {"d/f", "2"}, {"new", "n"}});
        for (const char* tree : {"older", "newer"})
            for (const char* item : {"same", "chmod", "touched", "d/f", "d", ""})
                setTime(base / tree / item, 1700000000, 5);
        setTime(base / "newer/new", 1700000000, 5);
        fs::permissions(base / "newer/chmod", fs::perms(0750));
        setTime(base / "newer/touched", 1600000000, 123456789);
        setTime(base / "newer/d/f", 1700000001, 0);
        diffPatch(base / "older", base / "newer", patch);
    }

    TempDir base;
    fs::path patch = base / "p.tkp";
};

TEST_F(CarriedMetadata, PatchCarriesNewStoredAndChangedItemsOnly) {
    const CPatchInfo info = loadInfo(patch);
    ASSERT_TRUE(info.hasMetadata);
    std::vector<std::string> carried;
    for (const auto& [path, meta] : info.metadata)
        carried.push_back(utf16ToUtf8(path));
    // \d keeps its time but gets a changed entry, which gives it a new time when applied.
    EXPECT_EQ(carried,
              (std::vector<std::string>{"\\chmod", "\\d", "\\d\\f", "\\new", "\\touched"}));
    EXPECT_EQ(info.metadata.at(u"\\chmod").mode, 0750u);
    EXPECT_EQ(info.metadata.at(u"\\touched").mtimeSec, 1600000000);
    EXPECT_EQ(info.metadata.at(u"\\touched").mtimeNsec, 123456789u);
    EXPECT_EQ(info.metadataDigest, calcMetadataDigest(scan(base / "newer")));
    // Only the permission bits change the digest; times do not.
    CDirSnapshot older = scan(base / "older");
    EXPECT_NE(calcMetadataDigest(older), info.metadataDigest);
}

TEST_F(CarriedMetadata, BaseReadersSeeAPatchWithoutTheRecord) {
    const std::string bytes = readFile(patch);
    const size_t start = recordStart(bytes);
    ASSERT_LT(start, bytes.size());
    EXPECT_EQ(static_cast<uint8_t>(bytes[start]), TYPE_METADATA);
    writeFile(base / "base.tkp", bytes.substr(0, start));
    const CPatchInfo info = loadInfo(base / "base.tkp");
    EXPECT_FALSE(info.hasMetadata);
    copyTree(base / "older", base / "target");
    RecordingSink sink;
    tkApplyPatch(&sink, u16(base / "target"), u16(base / "base.tkp"), u"", false, false);
    EXPECT_EQ(sink.statuses().back(), "New fingerprint verified.");
}

TEST_F(CarriedMetadata, DamagedRecordsAreRefused) {
    const std::string bytes = readFile(patch);
    const size_t start = recordStart(bytes);
    struct Case {
        const char* what;
        std::string bytes;
        std::string message;
    };
    auto patched = [&](size_t offset, char value) {
        std::string b = bytes;
        b[start + offset] = value;
        return b;
    };
    // Tag at 0, version DWORD at 1..5, digest string at 6: tag, DWORD 40, 80 bytes.
    const std::vector<Case> cases = {
        {"unknown version", patched(2, 2),
         "The patch's metadata record is damaged: unknown version"},
        {"digest not hex", patched(12, 'G'), "The patch's metadata record is damaged: digest"},
        {"trailing byte", bytes + "x", "The patch holds data after its file table."},
        {"second record", bytes + bytes.substr(start),
         "The patch holds data after its file table."},
        {"cut inside", bytes.substr(0, bytes.size() - 3), "Unable to read dword from a patch."},
    };
    for (const auto& c : cases) {
        writeFile(base / "bad.tkp", c.bytes);
        EXPECT_EQ(errorOf([&] { loadInfo(base / "bad.tkp"); }), c.message) << c.what;
    }
}

TEST(MetadataRecord, EntriesOutOfOrderOrOutOfRangeAreRefused) {
    TempDir dir;
    struct Case {
        const char* what;
        MetaMap entries;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"mode beyond 07777",
         {{u"\\a", {010000, 0, 0}}},
         "The patch's metadata record is damaged: \\a"},
        {"nanoseconds beyond a second",
         {{u"\\a", {0644, 0, 1000000000}}},
         "The patch's metadata record is damaged: \\a"},
        {"path leaving the tree",
         {{u"\\..\\x", {0644, 0, 0}}},
         "Refusing a patch path that leaves the target directory: \\..\\x"},
    };
    for (const auto& c : cases) {
        CPatchInfo info;
        info.hasMetadata = true;
        info.metadataDigest = std::u16string(40, u'0');
        info.metadata = c.entries;
        {
            COutputFile out(u16(dir / "r"));
            writeMetadataRecord(out, info);
            out.flush();
        }
        CInputFile in(u16(dir / "r"));
        CPatchInfo back;
        EXPECT_EQ(errorOf([&] { readMetadataRecord(in, back); }), c.message) << c.what;
        fs::remove(dir / "r");
    }
}

TEST(VaultMetadata, KeptByTheVaultAndAbsentFromABaseVault) {
    TempDir dir;
    makeTree(dir / "t", {{"x", "1"}, {"sub/y", "2"}});
    fs::permissions(dir / "t/x", fs::perms(0600));
    setTime(dir / "t/x", -5, 7); // before 1970
    RecordingSink sink;
    tkCreateVault(&sink, u16(dir / "t"), u"", u16(dir / "v.tkv"));
    const CDirSnapshot back = readVault(&sink, u16(dir / "v.tkv"));
    EXPECT_EQ(metadataIn(back), metadataIn(scan(dir / "t")));
    EXPECT_EQ(metadataIn(back).at(u"\\x"), (CItemMeta{0600, -5, 7}));

    // Without the list, the vault reads as the base format describes it.
    std::string text = readFile(dir / "v.tkv");
    const size_t from = text.find("<Metadata>");
    const size_t to = text.find("</Metadata>");
    ASSERT_NE(from, std::string::npos);
    writeFile(dir / "base.tkv", text.substr(0, from) + text.substr(to + 11));
    EXPECT_FALSE(readVault(&sink, u16(dir / "base.tkv")).hasMetadata());

    // A patch from the base vault carries every item's metadata.
    tkCreatePatchVault(&sink, u16(dir / "t"), u16(dir / "p.tkp"), u16(dir / "base.tkv"), u"",
                       false);
    EXPECT_EQ(loadInfo(dir / "p.tkp").metadata.size(), 3u);

    text.replace(text.find("mode=\"600\""), 10, "mode=\"9\"");
    writeFile(dir / "bad.tkv", text);
    EXPECT_EQ(errorOf([&] { readVault(&sink, u16(dir / "bad.tkv")); }),
              "Unable to read vault file:" + (dir / "bad.tkv").string());
}

} // namespace

namespace {

// Every item below root with its permission bits and modification time.
std::map<std::string, std::string> modesAndTimes(const fs::path& root, mode_t bits) {
    std::map<std::string, std::string> items;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        struct stat st;
        EXPECT_EQ(lstat(e.path().c_str(), &st), 0);
        items[fs::relative(e.path(), root).string()] = std::to_string(st.st_mode & bits) + " " +
                                                       std::to_string(st.st_mtim.tv_sec) + "." +
                                                       std::to_string(st.st_mtim.tv_nsec);
    }
    return items;
}

class AppliedMetadata : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(base / "older", {{"script", "echo 1"}, {"private", "p"}, {"d/f", "1"}});
        makeTree(base / "newer", {{"script", "echo 2"},
                                  {"private", "p"},
                                  {"d/f", "1"},
                                  {"d/new", "n"},
                                  {"secret/key", "k"},
                                  {"tool", "t"}});
        fs::permissions(base / "newer/script", fs::perms(0755));
        fs::permissions(base / "newer/private", fs::perms(0600));
        fs::permissions(base / "newer/secret/key", fs::perms(0400));
        fs::permissions(base / "newer/secret", fs::perms(0700));
        fs::permissions(base / "newer/tool", fs::perms(04755));
        long nanos = 1;
        for (const char* item :
             {"script", "private", "d/f", "d/new", "secret/key", "tool", "d", "secret"})
            setTime(base / "newer" / item, 1500000000 + nanos, nanos), ++nanos;
        copyTree(base / "older", base / "target");
    }

    std::string apply(bool keepSetuid) {
        std::string outcome;
        std::string error = errorOf([&] {
            ApplyOptions options;
            options.keepSetuid = keepSetuid;
            ApplyResult r = applyPatch(&sink, u16(base / "target"), u16(patch), u"", options);
            outcome = r == ApplyResult::verified ? "verified" : "not verified";
        });
        return error == "no error" ? outcome : error;
    }

    TempDir base;
    RecordingSink sink;
    fs::path patch = base / "p.tkp";
};

TEST_F(AppliedMetadata, DiffAndApplyCarryModesAndTimesUnderAnyUmask) {
    diffPatch(base / "older", base / "newer", patch);
    const mode_t old = umask(0);
    const std::string outcome = apply(false);
    umask(old);
    EXPECT_EQ(outcome, "verified");
    // setuid travels only on request; everything else arrives exactly.
    EXPECT_EQ(modesAndTimes(base / "target", 01777), modesAndTimes(base / "newer", 01777));
    EXPECT_EQ(fs::status(base / "target/tool").permissions(), fs::perms(0755));
}

TEST_F(AppliedMetadata, SetuidWithKeepSetuidAndThroughAVault) {
    RecordingSink vaultSink;
    tkCreateVault(&vaultSink, u16(base / "older"), u"", u16(base / "v.tkv"));
    tkCreatePatchVault(&vaultSink, u16(base / "newer"), u16(patch), u16(base / "v.tkv"), u"",
                       false);
    EXPECT_EQ(apply(true), "verified");
    EXPECT_EQ(modesAndTimes(base / "target", 07777), modesAndTimes(base / "newer", 07777));
}

TEST_F(AppliedMetadata, ChangedBitsAfterwardsAreReported) {
    diffPatch(base / "older", base / "newer", patch);
    // A directory the patch does not touch, whose mode differs from the newer tree's: the
    // fingerprint still matches, the carried bits do not.
    fs::permissions(base / "target/d", fs::perms(0700));
    fs::permissions(base / "older/d", fs::perms(0700));
    diffPatch(base / "older", base / "newer", patch);
    CPatchInfo info = loadInfo(patch);
    info.metadata.erase(u"\\d");
    fs::remove(patch);
    // The same patch without \d's entry, its digest kept.
    std::vector<StoredFile> stored;
    for (const PathList* list : {&info.NewFiles, &info.ChangedFiles})
        for (const auto& path : *list)
            stored.push_back({path, readFile(base / "newer" / nativeName(path.substr(1))), {}});
    writeCraftedPatch(patch, info, stored);
    EXPECT_EQ(apply(false), "not verified");
    EXPECT_TRUE(sink.sawStatus("After patch has been applied the permission bits do not match."));
}

} // namespace
