// Signed patches: key files, the signature record, and every way a patch can fail its check.
#include "patchsupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ostmere;
using namespace testing_support;

namespace {

class Signed : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(base / "older", {{"a", "1"}, {"gone", "x"}});
        makeTree(base / "newer", {{"a", "2"}, {"sub/new", "3"}});
        diffPatch(base / "older", base / "newer", unsignedPatch);
        keyId = createSigningKey(u16(key));
        otherId = createSigningKey(u16(otherKey));
        fs::copy_file(unsignedPatch, patch);
        signPatch(&sink, u16(patch), u16(key));
    }

    std::string check(const fs::path& p, std::vector<fs::path> trusted,
                      bool allowUnsigned = false) {
        TrustOptions trust;
        for (const auto& t : trusted)
            trust.trustedKeyFiles.push_back(u16(t) + u".pub");
        trust.allowUnsigned = allowUnsigned;
        std::string outcome;
        std::string error = errorOf([&] {
            SignatureStatus s = checkPatchSignature(&sink, u16(p), trust);
            outcome = std::string(s.present ? "signed" : "unsigned") +
                      (s.verified ? " verified " : " ") + utf16ToUtf8(s.keyId);
        });
        return error == "no error" ? outcome : error;
    }

    TempDir base;
    RecordingSink sink;
    fs::path unsignedPatch = base / "u.tkp", patch = base / "s.tkp";
    fs::path key = base / "key", otherKey = base / "other";
    std::u16string keyId, otherId;
};

TEST_F(Signed, KeyFilesArePrivateAndNeverOverwritten) {
    struct stat st;
    ASSERT_EQ(stat(key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((base / "key.pub").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(keyId.size(), 16u);
    EXPECT_NE(keyId, otherId);
    const std::string secret = readFile(key);
    EXPECT_EQ(errorOf([&] { createSigningKey(u16(key)); }),
              "Unable to create a key file (it must not exist yet): " + key.string());
    EXPECT_EQ(readFile(key), secret);
    EXPECT_EQ(readFile(base / "key.pub").rfind("ostmere-ed25519 " + utf16ToUtf8(keyId) + " ", 0),
              0u);
}

TEST_F(Signed, SignedPatchVerifiesLoadsAndApplies) {
    EXPECT_EQ(check(patch, {key}), "signed verified " + utf16ToUtf8(keyId));
    EXPECT_EQ(check(patch, {otherKey, key}), "signed verified " + utf16ToUtf8(keyId));
    // Without trusted keys the signature is reported but cannot be checked.
    EXPECT_EQ(check(patch, {}), "signed " + utf16ToUtf8(keyId));
    EXPECT_EQ(loadInfo(patch).signedBy, keyId);
    copyTree(base / "older", base / "target");
    tkApplyPatch(&sink, u16(base / "target"), u16(patch), u"", false, false);
    EXPECT_EQ(sink.statuses().back(), "New fingerprint verified.");
}

TEST_F(Signed, RefusedPatches) {
    const std::string signedBytes = readFile(patch);
    const std::string unsignedBytes = readFile(unsignedPatch);
    const size_t record = unsignedBytes.size();
    // Another patch signed by the same key: its record moved onto this patch's bytes.
    makeTree(base / "newer2", {{"a", "other"}});
    diffPatch(base / "older", base / "newer2", base / "p2.tkp");
    signPatch(&sink, u16(base / "p2.tkp"), u16(key));
    const std::string second = readFile(base / "p2.tkp");
    fs::copy_file(unsignedPatch, base / "resigned.tkp");
    signPatch(&sink, u16(base / "resigned.tkp"), u16(otherKey));

    const std::string id = utf16ToUtf8(keyId);
    const std::string mismatch = "The patch does not match its signature by key " + id + ".";
    struct Case {
        const char* what;
        std::string bytes;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"unsigned while a key is trusted", unsignedBytes,
         "The patch is not signed, and only patches signed by a trusted key are accepted: "},
        {"signature moved from another patch",
         unsignedBytes + second.substr(second.size() - (signedBytes.size() - record)), mismatch},
        {"record cut short", signedBytes.substr(0, signedBytes.size() - 1),
         "The patch is not signed, and only patches signed by a trusted key are accepted: "},
        {"re-signed by an untrusted key", readFile(base / "resigned.tkp"),
         "The patch is signed by key " + utf16ToUtf8(otherId) + ", which is not trusted."},
    };
    for (const auto& c : cases) {
        writeFile(base / "t.tkp", c.bytes);
        EXPECT_EQ(check(base / "t.tkp", {key}).rfind(c.expected, 0), 0u)
            << c.what << ": " << check(base / "t.tkp", {key});
    }
    writeFile(base / "t.tkp", unsignedBytes);
    EXPECT_EQ(check(base / "t.tkp", {key}, true), "unsigned ");
}

TEST_F(Signed, EveryByteFlipIsRefused) {
    CreateOptions compact;
    compact.compact = true;
    createPatchFromDirectories(&sink, u16(base / "older"), u16(base / "newer"), u16(base / "c.tkp"),
                               u"", u"", compact);
    signPatch(&sink, u16(base / "c.tkp"), u16(key));
    EXPECT_EQ(loadInfo(base / "c.tkp").signedBy, keyId); // the signature follows the digest
    for (const fs::path& signedPatch : {patch, base / "c.tkp"}) {
        const std::string bytes = readFile(signedPatch);
        ASSERT_LT(bytes.size(), 4096u);
        ASSERT_EQ(check(signedPatch, {key}), "signed verified " + utf16ToUtf8(keyId));
        for (size_t at = 0; at < bytes.size(); ++at) {
            std::string damaged = bytes;
            damaged[at] ^= 0x01;
            writeFile(base / "t.tkp", damaged);
            EXPECT_NE(check(base / "t.tkp", {key}).rfind("signed verified", 0), 0u)
                << signedPatch.filename() << " byte " << at;
        }
    }
}

// A byte 0x19 where a signature record would begin is not a signature: the bytes there belong
// to an unsigned patch's file table or metadata record and may take any value.
TEST_F(Signed, ATagByteAloneDoesNotMakeAPatchSigned) {
    std::string bytes = readFile(unsignedPatch);
    bytes[bytes.size() - 140] = 0x19;
    writeFile(base / "t.tkp", bytes);
    EXPECT_EQ(check(base / "t.tkp", {}), "unsigned ");
    EXPECT_EQ(check(base / "t.tkp", {key}).rfind("The patch is not signed", 0), 0u);
}

} // namespace
