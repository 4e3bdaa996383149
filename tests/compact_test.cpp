// Compact patches: both formats through every creation road and back, a compact patch checked
// without a target, every damaged byte refused before the target changes, deltas only against
// the content they were made from, and base patches untouched by the compact writer.
#include "allocprobe.h"
#include "patch/compactformat.h"
#include "patchsupport.h"

#include <gtest/gtest.h>

using namespace ostmere;
using namespace testing_support;

namespace {

std::string text(size_t lines) {
    std::string s;
    for (size_t i = 0; s.size() < lines * 40; ++i)
        s += "line " + std::to_string(i) + " of a text that compresses well\n";
    return s;
}

// Small frames, so that a few hundred KiB make a file of many frames.
CreateOptions compactOptions() {
    CreateOptions options;
    options.compact = true;
    options.frameSize = 64 * 1024;
    return options;
}

struct Content {
    const char* what;
    std::string older, newer; // older empty: a new file
};

std::vector<Content> contents() {
    const std::string noise = randomBytes(300 * 1024, 1);
    std::string edited = noise;
    edited.replace(150 * 1024, 1024, std::string(1024, 'x'));
    // Bytes inserted near the start move everything after them across frame borders.
    std::string shifted = noise.substr(0, 1000) + "inserted" + noise.substr(1000);
    return {
        {"incompressible", "", randomBytes(50 * 1024, 2)},
        {"compressible", "", text(2000)},
        {"delta-friendly", noise, edited},
        {"shifted across frames", noise, shifted},
        {"empty", "", ""},
        {"emptied", "x", ""},
        {"multi-frame text", text(100), text(20000)},
    };
}

// Rewrites the digest that ends an unsigned compact patch to fit its bytes.
void resealCompactDigest(std::string& bytes) {
    const size_t text = bytes.size() - 80, record = text - 7;
    ASSERT_EQ(static_cast<uint8_t>(bytes[record]), TYPE_COMPACT_DIGEST);
    CSha1 sha;
    sha.start();
    sha.update(bytes.data() + kCompactDigestStart, record - kCompactDigestStart);
    uint8_t digest[20];
    sha.finish(digest);
    const std::string hex = utf16ToUtf8(digestToHex(digest));
    for (size_t i = 0; i < 40; ++i)
        bytes[text + 2 * i] = hex[i], bytes[text + 2 * i + 1] = 0;
}

class CompactRoundTrip : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<TreeEntry> older = {{"stays", "same"}, {"gone", "old"}};
        std::vector<TreeEntry> newer = {{"stays", "same"}, {"dir/", ""}};
        int i = 0;
        for (const auto& c : contents()) {
            const std::string name = "f" + std::to_string(i++);
            if (!c.older.empty())
                older.push_back({name, c.older});
            newer.push_back({name, c.newer});
        }
        makeTree(base / "older", older);
        makeTree(base / "newer", newer);
        // Links travel as their target text, never as deltas, also where a file becomes a link
        // or a link a file.
        fs::create_symlink("stays", base / "older/ln");
        fs::create_symlink("f0", base / "newer/ln");
        fs::create_symlink("f1", base / "newer/ln2");
        fs::create_symlink("stays", base / "older/swap");
        writeFile(base / "newer/swap", "f1");
        writeFile(base / "older/swap2", "now a link");
        fs::create_symlink("stays", base / "newer/swap2");
        tkCreateVault(&sink, u16(base / "older"), u"", u16(base / "older.tkv"));
    }

    // Applies the patch to a copy of the older tree; returns the outcome and leaves the tree.
    ApplyResult applyToCopy(const fs::path& patch) {
        fs::remove_all(base / "target");
        copyTree(base / "older", base / "target");
        return applyPatch(&sink, u16(base / "target"), u16(patch), u"", {});
    }

    TempDir base;
    RecordingSink sink{64 * 1024};
};

TEST_F(CompactRoundTrip, EveryContentThroughBothFormatsAndBothRoads) {
    struct Road {
        const char* what;
        bool compact, vault;
    };
    const std::vector<Road> roads = {{"base diff", false, false},
                                     {"base diff-vault", false, true},
                                     {"compact diff", true, false},
                                     {"compact diff-vault", true, true}};
    const auto expected = describeTree(base / "newer");
    std::map<std::string, uint64_t> sizes;
    for (const auto& road : roads) {
        CreateOptions options = road.compact ? compactOptions() : CreateOptions{};
        const fs::path patch = base / (std::string(road.what) + ".tkp");
        if (road.vault)
            createPatchFromVault(&sink, u16(base / "newer"), u16(patch), u16(base / "older.tkv"),
                                 u"", false, options);
        else
            createPatchFromDirectories(&sink, u16(base / "older"), u16(base / "newer"), u16(patch),
                                       u"", u"", options);
        const PatchSummary summary = describePatch(&sink, u16(patch));
        EXPECT_EQ(summary.compact, road.compact) << road.what;
        EXPECT_TRUE(loadInfo(patch).hasMetadata) << road.what; // still after the file table
        sizes[road.what] = summary.patchBytes;
        // The dry run reads a compact patch through as well, deltas by their digests.
        EXPECT_TRUE(checkPatch(&sink, u16(base / "older"), u16(patch)).contentsVerified)
            << road.what;
        EXPECT_EQ(applyToCopy(patch), ApplyResult::verified) << road.what;
        EXPECT_EQ(describeTree(base / "target"), expected) << road.what;
        for (const char* link : {"ln", "ln2", "swap2"})
            EXPECT_EQ(fs::read_symlink(base / "target" / link),
                      fs::read_symlink(base / "newer" / link))
                << road.what;
        EXPECT_FALSE(fs::is_symlink(base / "target/swap")) << road.what;
    }
    // Compression pays on the text; deltas pay on the changed noise, which only the
    // two-directory road can code against its older version.
    EXPECT_LT(sizes["compact diff-vault"], sizes["base diff-vault"] * 3 / 4);
    EXPECT_LT(sizes["compact diff"] + 500 * 1024, sizes["compact diff-vault"]);
}

TEST_F(CompactRoundTrip, QueryListsAndSizesMatchTheBaseFormat) {
    createPatchFromDirectories(&sink, u16(base / "older"), u16(base / "newer"), u16(base / "b.tkp"),
                               u"", u"", {});
    createPatchFromDirectories(&sink, u16(base / "older"), u16(base / "newer"), u16(base / "c.tkp"),
                               u"", u"", compactOptions());
    const ReportContent b = [&] {
        tkQuerryPatch(&sink, u16(base / "b.tkp"), u16(base / "b.xml"));
        return readReport(base / "b.xml");
    }();
    tkQuerryPatch(&sink, u16(base / "c.tkp"), u16(base / "c.xml"));
    ReportContent c = readReport(base / "c.xml");
    for (const auto& [list, entries] : b) {
        if (list != "PatchInfo") {
            EXPECT_EQ(c[list], entries) << list;
        }
    }
    const PatchSummary base = describePatch(&sink, u16(this->base / "b.tkp"));
    const PatchSummary compact = describePatch(&sink, u16(this->base / "c.tkp"));
    EXPECT_EQ(compact.originalBytes, base.storedBytes);
    EXPECT_EQ(base.originalBytes, base.storedBytes);
    EXPECT_LT(compact.storedBytes, base.storedBytes / 2);
}

TEST_F(CompactRoundTrip, BaseFunctionsStillWriteTheBaseFormat) {
    diffPatch(base / "older", base / "newer", base / "b.tkp");
    createPatchFromDirectories(&sink, u16(base / "older"), u16(base / "newer"), u16(base / "o.tkp"),
                               u"", u"", {});
    const std::string bytes = readFile(base / "b.tkp");
    EXPECT_EQ(bytes.substr(0, kPatchMagicSize), std::string(kPatchMagic));
    // The same writer with default options: the same bytes but for the creation stamps.
    EXPECT_EQ(readFile(base / "o.tkp").size(), bytes.size());
    const CPatchInfo info = loadInfo(base / "b.tkp");
    EXPECT_FALSE(info.compact);
    EXPECT_TRUE(info.compactDigest.empty());
    CInputFile in(u16(base / "b.tkp"));
    in.seek(in.readHeader());
    for (const auto& [path, position] : in.readFileTable())
        EXPECT_EQ(static_cast<uint8_t>(bytes.at(position)), TYPE_FILE) << utf16ToUtf8(path);
}

TEST_F(CompactRoundTrip, VerifyDecodesWithoutTargetAndFindsDamage) {
    const fs::path patch = base / "c.tkp";
    createPatchFromDirectories(&sink, u16(base / "older"), u16(base / "newer"), u16(patch), u"",
                               u"", compactOptions());
    const PatchSummary s = describePatch(&sink, u16(patch));
    EXPECT_TRUE(s.compact);
    EXPECT_GT(s.originalBytes, s.storedBytes);

    // A byte inside a frame damaged, and the patch's closing digest made to fit again: the
    // record's own digest gives it away, for a delta (f2) as for a compressed frame (f1).
    const std::string bytes = readFile(patch);
    CInputFile in(u16(patch));
    in.seek(in.readHeader());
    const FileTable table = in.readFileTable();
    for (const char16_t* key : {u"\\f1", u"\\f2"}) {
        std::string damaged = bytes;
        damaged[table.at(key) + 200] ^= 0x01;
        resealCompactDigest(damaged);
        writeFile(base / "d.tkp", damaged);
        EXPECT_EQ(errorOf([&] { describePatch(&sink, u16(base / "d.tkp")); }),
                  "The patch's compact file record is damaged: " + utf16ToUtf8(key));
    }
    std::string damaged = bytes;
    damaged[table.at(u"\\f1") + 200] ^= 0x01;
    writeFile(base / "d.tkp", damaged);
    EXPECT_EQ(errorOf([&] { describePatch(&sink, u16(base / "d.tkp")); }),
              "The compact patch does not match its digest.");
}

// Every single byte of a small compact patch, flipped: verify reports it, and apply refuses
// it before the target changes, without allocating anything of a size read from the patch.
TEST_F(CompactRoundTrip, EveryByteFlipIsRefusedBeforeTheTargetChanges) {
    TempDir small;
    makeTree(small / "older", {{"a", text(20)}, {"b", "gone"}, {"c", randomBytes(3000, 5)}});
    std::string changed = randomBytes(3000, 5);
    changed[100] = 'x';
    makeTree(small / "newer", {{"a", text(30)}, {"c", changed}, {"d/e", "new"}});
    const fs::path patch = small / "p.tkp";
    createPatchFromDirectories(&sink, u16(small / "older"), u16(small / "newer"), u16(patch), u"",
                               u"", compactOptions());
    const std::string bytes = readFile(patch);
    ASSERT_LT(bytes.size(), 4096u);
    copyTree(small / "older", small / "target");
    const auto before = describeTree(small / "target");
    for (size_t at = 0; at < bytes.size(); ++at) {
        std::string damaged = bytes;
        damaged[at] ^= 0x01;
        writeFile(small / "t.tkp", damaged);
        std::string verify, apply;
        RecordingSink sink; // a fresh one: a long record of calls is an allocation of its own
        const size_t largest = largestAllocationSince([&] {
            verify = errorOf([&] { describePatch(&sink, u16(small / "t.tkp")); });
            apply = errorOf(
                [&] { applyPatch(&sink, u16(small / "target"), u16(small / "t.tkp"), u"", {}); });
        });
        EXPECT_NE(verify, "no error") << "byte " << at;
        EXPECT_NE(apply, "no error") << "byte " << at;
        EXPECT_LT(largest, 1u << 20) << "byte " << at;
        ASSERT_EQ(describeTree(small / "target"), before) << "byte " << at;
    }
    EXPECT_EQ(applyPatch(&sink, u16(small / "target"), u16(patch), u"", {}), ApplyResult::verified);
}

// A delta (the delta-friendly content, f2) is decoded only against a target file with the
// content it was made against, and never through a link. The fingerprint check is switched
// off, so only the delta's own checks stand between the patch and the target.
TEST_F(CompactRoundTrip, DeltaOnlyAgainstItsOwnReferenceInsideTheTarget) {
    const fs::path patch = base / "c.tkp";
    createPatchFromDirectories(&sink, u16(base / "older"), u16(base / "newer"), u16(patch), u"",
                               u"", compactOptions());
    fs::copy_file(base / "older/f2", base / "outside");
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> alter;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"one byte of the reference changed",
         [](const fs::path& f2) {
             std::string other = readFile(f2);
             other[10] ^= 0x01;
             writeFile(f2, other);
         },
         "The patch codes a file against content the directory does not hold; the directory was "
         "not changed: "},
        // The guard scan sees the link's text, not the copy outside it.
        {"the reference a link to its copy outside the target",
         [&](const fs::path& f2) {
             fs::remove(f2);
             fs::create_symlink(base / "outside", f2);
         },
         "The patch codes a file against content the directory does not hold; the directory was "
         "not changed: "},
    };
    ApplyOptions options;
    options.ignoreFingerprint = true;
    for (const auto& c : cases) {
        fs::remove_all(base / "target");
        copyTree(base / "older", base / "target");
        c.alter(base / "target/f2");
        const auto before = describeTree(base / "target");
        const std::string message =
            errorOf([&] { applyPatch(&sink, u16(base / "target"), u16(patch), u"", options); });
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << c.what << ": " << message;
        EXPECT_EQ(describeTree(base / "target"), before) << c.what;
    }
}

} // namespace
