// A sweep of damaged patches: cut at record boundaries and elsewhere, with tags, counts,
// lengths and positions altered. Every reader refuses each with a known message, allocates
// nothing of a size read from the file, and the target of a refused apply is left as it was.
#include "allocprobe.h"
#include "patchsupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <set>

using namespace ostmere;
using namespace testing_support;

namespace {

// Where the structure of a patch lies: every tag byte, and the value bytes of every count,
// length and position (attribute words and file contents are data, not structure).
struct Layout {
    std::vector<size_t> tags;
    std::vector<size_t> dwords; // offsets of the 4 value bytes
    std::vector<size_t> qwords; // offsets of the 8 value bytes
    // Where the metadata record begins: cut there, the patch is a sound base-format patch.
    size_t extension = 0;
};

class LayoutParser {
  public:
    explicit LayoutParser(const std::string& bytes) : b_(bytes) {}

    Layout parse() {
        pos_ = kPatchMagicSize;
        const uint64_t tablePosition = qword(true);
        dword(true); // the completion flag
        string();
        string();
        pairs(TYPE_INFO_MAP, [&] { string(); });
        string();
        for (int i = 0; i < 7; ++i) {
            tag();
            for (uint32_t n = dword(true); n; --n)
                string();
        }
        pairs(TYPE_ATTRIBUTE_MAP, [&] { dword(false); });
        while (pos_ < tablePosition) {
            tag();
            string();
            pos_ += qword(true);
        }
        pairs(TYPE_FILE_TABLE, [&] { qword(true); });
        if (pos_ < b_.size())
            metadataRecord();
        EXPECT_EQ(pos_, b_.size());
        return layout_;
    }

  private:
    void metadataRecord() {
        layout_.extension = pos_;
        tag();
        dword(true); // version
        string();    // digest
        for (uint32_t n = dword(true); n; --n) {
            string();
            dword(false);
            qword(false);
            dword(false);
        }
    }
    void tag() { layout_.tags.push_back(pos_++); }
    uint64_t value(size_t bytes) {
        uint64_t v = 0;
        for (size_t i = 0; i < bytes; ++i)
            v |= uint64_t(static_cast<uint8_t>(b_.at(pos_ + i))) << (8 * i);
        pos_ += bytes;
        return v;
    }
    uint32_t dword(bool structural) {
        tag();
        if (structural)
            layout_.dwords.push_back(pos_);
        return static_cast<uint32_t>(value(4));
    }
    uint64_t qword(bool structural) {
        tag();
        if (structural)
            layout_.qwords.push_back(pos_);
        return value(8);
    }
    void string() {
        tag();
        pos_ += 2 * dword(true);
    }
    void pairs(uint8_t, const std::function<void()>& second) {
        tag();
        for (uint32_t n = dword(true); n; --n) {
            string();
            second();
        }
    }

    const std::string& b_;
    size_t pos_ = 0;
    Layout layout_;
};

// The messages a reader may refuse a damaged patch with.
bool allowedMessage(const std::string& m) {
    static const std::set<std::string> exact = {
        "Unable to read a type.",
        "Type mismatch.",
        "Unable to read dword from a patch.",
        "Unable to write DWORD into a patch file.",
        "Unable to read a buffer from a patch.",
        "Unable to open a patch file, missing magic number.",
        "This patch file has not been properly written.",
        "Unable to fully read a patch file content",
    };
    static const std::vector<std::string> prefixes = {
        "The patch's file table does not match its file record: ",
        "The patch's file table does not match its file lists: ",
        "Refusing a patch path that leaves the target directory: ",
        "The patch's file records do not end at its file table.",
        "The patch holds data after its file table.",
        "The patch's metadata record is damaged: ",
        "The patch's signature record is damaged.",
        "The patch holds data after its signature.",
    };
    if (exact.count(m))
        return true;
    for (const auto& p : prefixes)
        if (m.rfind(p, 0) == 0)
            return true;
    return false;
}

struct Damage {
    std::string what;
    std::string bytes;
};

std::vector<Damage> damages(const std::string& patch) {
    const Layout layout = LayoutParser(patch).parse();
    std::vector<Damage> out;
    // Cuts: at every record boundary, and at every 13th offset in between.
    std::set<size_t> cuts = {0, 1, kPatchMagicSize - 1, patch.size() - 1};
    cuts.insert(layout.tags.begin(), layout.tags.end());
    for (size_t at = 0; at < patch.size(); at += 13)
        cuts.insert(at);
    EXPECT_NE(layout.extension, 0u) << "the patch under test carries metadata";
    cuts.erase(layout.extension);
    for (size_t at : cuts)
        out.push_back({"cut at " + std::to_string(at), patch.substr(0, at)});
    for (size_t at = 0; at < kPatchMagicSize; at += 7) {
        std::string b = patch;
        b[at] ^= 0x20;
        out.push_back({"magic byte " + std::to_string(at), b});
    }
    for (size_t at : layout.tags)
        for (int flip : {0x01, 0x07, 0x80}) {
            std::string b = patch;
            b[at] ^= flip;
            out.push_back({"tag at " + std::to_string(at) + " ^" + std::to_string(flip), b});
        }
    auto adjust = [&](size_t at, size_t width, const char* kind) {
        uint64_t v = 0;
        for (size_t i = 0; i < width; ++i)
            v |= uint64_t(static_cast<uint8_t>(patch[at + i])) << (8 * i);
        const uint64_t high = uint64_t(1) << (8 * width - 1);
        for (uint64_t changed : {v + 1, v - 1, v ^ high, v ^ 0x40, v ^ 0x100}) {
            std::string b = patch;
            for (size_t i = 0; i < width; ++i)
                b[at + i] = static_cast<char>(changed >> (8 * i));
            out.push_back({std::string(kind) + " at " + std::to_string(at) + " " +
                               std::to_string(v) + "->" + std::to_string(changed & (high * 2 - 1)),
                           b});
        }
    };
    for (size_t at : layout.dwords)
        adjust(at, 4, "dword");
    for (size_t at : layout.qwords)
        adjust(at, 8, "qword");
    return out;
}

class Corruption : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        base = new TempDir;
        std::vector<TreeEntry> older, newer;
        for (int i = 0; i < 10; ++i) {
            older.push_back({"d" + std::to_string(i % 3) + "/s/f" + std::to_string(i),
                             "old" + std::to_string(i)});
            newer.push_back(
                {"d" + std::to_string(i % 3) + "/s/f" + std::to_string(i),
                 i % 2 ? "old" + std::to_string(i) : "new content " + std::to_string(i)});
        }
        for (int i = 0; i < 8; ++i)
            newer.push_back(
                {"added/n" + std::to_string(i) + "/file", std::string(100 * i, 'a' + i)});
        older.push_back({"gone/deep/x", "x"});
        older.push_back({"attr", "a"});
        newer.push_back({"attr", "a"});
        newer.push_back({"emptyDir/", ""});
        makeTree(*base / "older", older);
        makeTree(*base / "newer", newer);
        makeReadOnly(*base / "newer/attr");
        makeReadOnly(*base / "newer/d1/s/f1");
        diffPatch(*base / "older", *base / "newer", *base / "p.tkp", "*.tmp");
        patch = readFile(*base / "p.tkp");
        copyTree(*base / "older", *base / "target");
    }
    static void TearDownTestSuite() { delete base; }

    static TempDir* base;
    static std::string patch;
};

TempDir* Corruption::base = nullptr;
std::string Corruption::patch;

TEST_F(Corruption, PatchUnderTestIsSound) {
    const CPatchInfo info = loadInfo(*base / "p.tkp");
    EXPECT_GE(info.NewFiles.size() + info.ChangedFiles.size(), 10u);
    EXPECT_GE(info.UnlinkedFiles.size() + info.NewFiles.size() + info.ChangedFiles.size(), 12u);
    EXPECT_GE(info.UnlinkedDirectories.size(), 2u);
    EXPECT_GE(info.AttributeChanges.size(), 12u);
    EXPECT_EQ(info.AttributeChanges.at(u"\\attr"), 0x21u);
    copyTree(*base / "older", *base / "check");
    RecordingSink sink;
    tkApplyPatch(&sink, u16(*base / "check"), u16(*base / "p.tkp"), u"", false, false);
    EXPECT_EQ(sink.statuses().back(), "New fingerprint verified.");
    fs::remove_all(*base / "check");
}

TEST_F(Corruption, EveryReaderRefusesEveryDamage) {
    const fs::path report = *base / "report.xml";
    const auto targetBefore = describeTree(*base / "target");
    const auto list = damages(patch);
    ASSERT_GT(list.size(), 500u);
    RecordProperty("damages", static_cast<int>(list.size()));
    int refusedByFingerprint = 0;
    int count = 0;
    for (const auto& d : list) {
        // A fresh file each time: truncating one in place makes some file systems write it
        // out at once, which costs far more than the reading.
        const fs::path damaged = *base / (std::to_string(count++) + ".tkp");
        { std::ofstream(damaged, std::ios::binary) << d.bytes; }
        RecordingSink sink;
        struct Reader {
            const char* name;
            std::function<void()> run;
        };
        const std::vector<Reader> readers = {
            {"loadPatchInfo", [&] { loadPatchInfo(&sink, u16(damaged)); }},
            {"tkQuerryPatch", [&] { tkQuerryPatch(&sink, u16(damaged), u16(report)); }},
            {"tkApplyPatch",
             [&] { tkApplyPatch(&sink, u16(*base / "target"), u16(damaged), u"", false, false); }},
        };
        for (const auto& r : readers) {
            std::string message;
            const size_t largest = largestAllocationSince([&] { message = errorOf(r.run); });
            const bool fingerprint =
                message == "Trying to apply a patch to dirrectory with different fingerprint.";
            refusedByFingerprint += fingerprint;
            EXPECT_TRUE(allowedMessage(message) ||
                        (fingerprint && std::string(r.name) == "tkApplyPatch"))
                << r.name << ", " << d.what << ": " << message;
            EXPECT_LT(largest, 1u << 20) << r.name << ", " << d.what;
        }
        EXPECT_FALSE(fs::exists(report)) << d.what;
        const auto targetAfter = describeTree(*base / "target");
        EXPECT_EQ(targetAfter, targetBefore) << d.what;
        if (targetAfter != targetBefore) { // keep the later cases meaningful
            fs::remove_all(*base / "target");
            copyTree(*base / "older", *base / "target");
        }
        fs::remove(report);
        fs::remove(damaged);
    }
    EXPECT_EQ(refusedByFingerprint, 0);
}

} // namespace
