// Signed patches on the command line: keygen, diff --sign, where trusted keys come from, and
// every kind of damaged or foreign patch refused by apply before the target changes.
#include "clirun.h"
#include "patchsupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;

namespace {

class CliSign : public ::testing::Test {
  protected:
    void SetUp() override {
        makeTree(base / "older", {{"a", "1"}, {"gone", "removed-file"}});
        makeTree(base / "newer", {{"a", "2"}, {"sub/new", "stored-content-of-new"}});
        copyTree(base / "older", base / "target");
        ASSERT_EQ(run({"keygen", key}).status, 0);
        ASSERT_EQ(run({"keygen", otherKey}).status, 0);
        keyId = readFile(key).substr(23, 16);
    }

    // The program with its trusted-key directories inside the scratch folder, so that keys
    // installed on this machine do not count.
    CliRun run(const std::vector<std::string>& args, const std::string& umask = "022") {
        return runCliUnder({"env", "OSTMERE_SYSCONFDIR=" + (base / "etc").string(),
                            "XDG_CONFIG_HOME=" + (base / "config").string(), "sh", "-c",
                            "umask " + umask + "; exec \"$0\" \"$@\""},
                           args, scratch.path());
    }

    std::string diff(const fs::path& patch, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"diff", base / "older", base / "newer", patch};
        args.insert(args.end(), extra.begin(), extra.end());
        CliRun made = run(args);
        EXPECT_EQ(made.status, 0) << made.err;
        return readFile(patch);
    }

    TempDir base, scratch;
    fs::path key = base / "key", otherKey = base / "other";
    std::string keyId;
};

TEST_F(CliSign, KeygenWritesAPrivateSecretAndNeverOverwrites) {
    CliRun made = run({"keygen", base / "k"}, "000");
    ASSERT_EQ(made.status, 0) << made.err;
    struct stat st;
    ASSERT_EQ(stat((base / "k").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((base / "k.pub").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_EQ(made.out.size(), 17u);
    const std::string id = made.out.substr(0, 16);
    EXPECT_EQ(readFile(base / "k.pub").rfind("ostmere-ed25519 " + id + " ", 0), 0u);

    const std::string secret = readFile(base / "k"), pub = readFile(base / "k.pub");
    CliRun again = run({"keygen", base / "k"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "ostmere: Unable to create a key file (it must not exist yet): " +
                             (base / "k").string() + "\n");
    EXPECT_EQ(readFile(base / "k"), secret);
    EXPECT_EQ(readFile(base / "k.pub"), pub);
    // Only the public file in the way: nothing is left behind either.
    writeFile(base / "lone.pub", "earlier");
    EXPECT_EQ(run({"keygen", base / "lone"}).status, 1);
    EXPECT_FALSE(fs::exists(base / "lone"));
    EXPECT_EQ(readFile(base / "lone.pub"), "earlier");
}

TEST_F(CliSign, SignedDiffVerifiesAndABadKeyWritesNothing) {
    diff(base / "p.tkp", {"--sign", key});
    CliRun verified = run({"verify", "--json", base / "p.tkp", "--trusted-key",
                           otherKey.string() + ".pub", "--trusted-key", key.string() + ".pub"});
    EXPECT_EQ(verified.status, 0) << verified.err;
    EXPECT_NE(verified.out.find("\"signature\":{\"present\":true,\"keyId\":\"" + keyId +
                                "\",\"trusted\":true}"),
              std::string::npos)
        << verified.out;
    CliRun unchecked = run({"verify", "--json", base / "p.tkp"});
    EXPECT_NE(unchecked.out.find("\"signature\":{\"present\":true,\"keyId\":\"" + keyId +
                                 "\",\"trusted\":false}"),
              std::string::npos)
        << unchecked.out;
    CliRun vault = run({"vault", base / "older", base / "v.tkv"});
    ASSERT_EQ(vault.status, 0) << vault.err;
    CliRun fromVault =
        run({"diff-vault", base / "newer", base / "v.tkv", base / "pv.tkp", "--sign", key});
    ASSERT_EQ(fromVault.status, 0) << fromVault.err;
    EXPECT_EQ(run({"verify", base / "pv.tkp", "--trusted-key", key.string() + ".pub"}).status, 0);

    // A key file that cannot sign is refused before the earlier patch is touched.
    struct Case {
        fs::path keyFile;
        std::string error;
    };
    const std::vector<Case> cases = {
        {base / "missing", "ostmere: Unable to read a key file: " + (base / "missing").string() +
                               ": No such file or directory\n"},
        {key.string() + ".pub",
         "ostmere: Not a secret key file of this program: " + key.string() + ".pub\n"},
        {base / "older/a",
         "ostmere: Not a key file of this program: " + (base / "older/a").string() + "\n"},
        {base / "shared.key",
         "ostmere: Refusing a secret key file that group or others may read (make it mode 0600): " +
             (base / "shared.key").string() + "\n"},
    };
    fs::copy_file(key, base / "shared.key");
    fs::permissions(base / "shared.key", fs::perms(0640));
    for (const auto& c : cases) {
        writeFile(base / "earlier.tkp", "earlier patch");
        for (const char* command : {"diff", "diff-vault"}) {
            CliRun refused = command == std::string("diff")
                                 ? run({"diff", base / "older", base / "newer",
                                        base / "earlier.tkp", "--sign", c.keyFile})
                                 : run({"diff-vault", base / "newer", base / "v.tkv",
                                        base / "earlier.tkp", "--sign", c.keyFile});
            EXPECT_EQ(refused.status, 1) << command;
            EXPECT_EQ(refused.err, c.error) << command;
            EXPECT_EQ(readFile(base / "earlier.tkp"), "earlier patch") << command;
        }
    }
}

TEST_F(CliSign, TrustedKeysComeFromOptionsAndBothDirectories) {
    diff(base / "u.tkp");
    const std::string unsignedError =
        "ostmere: The patch is not signed, and only patches signed by a trusted key are "
        "accepted: " +
        (base / "u.tkp").string() + "\n";
    const fs::path system = base / "etc/trusted-keys", user = base / "config/ostmere/trusted-keys";
    fs::create_directories(system);
    fs::create_directories(user);
    writeFile(system / "README", "not a key: only *.pub files count");
    // No key: applied as always, with one notice that --quiet leaves out.
    CliRun plain = run({"apply", "--dry-run", base / "target", base / "u.tkp"});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err, "ostmere: notice: the patch is not signed and no key is trusted: it "
                         "was not authenticated\n");
    EXPECT_EQ(run({"apply", "-q", "-n", base / "target", base / "u.tkp"}).err, "");

    struct Source {
        const char* what;
        std::function<std::vector<std::string>()> install; // extra arguments
    };
    const std::vector<Source> sources = {
        {"--trusted-key",
         [&] {
             return std::vector<std::string>{"--trusted-key", key.string() + ".pub"};
         }},
        {"system directory",
         [&] {
             fs::copy_file(key.string() + ".pub", system / "builds.pub");
             return std::vector<std::string>{};
         }},
        {"user directory",
         [&] {
             fs::copy_file(key.string() + ".pub", user / "builds.pub");
             return std::vector<std::string>{};
         }},
    };
    for (const auto& s : sources) {
        fs::remove(system / "builds.pub");
        fs::remove(user / "builds.pub");
        std::vector<std::string> extra = s.install();
        auto with = [&](std::vector<std::string> args) {
            args.insert(args.end(), extra.begin(), extra.end());
            return run(args);
        };
        for (const char* command : {"apply", "verify", "query"}) {
            std::vector<std::string> args = {command};
            if (command == std::string("apply"))
                args.push_back(base / "target");
            args.push_back(base / "u.tkp");
            if (command == std::string("query"))
                args.push_back(base / "r.xml");
            CliRun refused = with(args);
            EXPECT_EQ(refused.status, 1) << s.what << " " << command;
            EXPECT_EQ(refused.err, unsignedError) << s.what << " " << command;
        }
        CliRun allowed =
            with({"apply", "--dry-run", "--allow-unsigned", base / "target", base / "u.tkp"});
        EXPECT_EQ(allowed.status, 0) << s.what << ": " << allowed.err;
        EXPECT_EQ(allowed.err, "ostmere: notice: the patch is not signed; accepted without "
                               "authentication (--allow-unsigned)\n");
    }
    // A trusted-keys directory that cannot be read is an error, not an empty list.
    fs::remove_all(user);
    writeFile(user, "a file where the directory belongs");
    CliRun unreadable = run({"verify", base / "u.tkp"});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_NE(unreadable.err.find("cannot read the trusted keys in " + user.string()),
              std::string::npos)
        << unreadable.err;
}

TEST_F(CliSign, DamagedOrForeignPatchesAreRefusedBeforeTheTargetChanges) {
    const std::string bytes = diff(base / "p.tkp", {"--sign", key});
    const std::string foreign = diff(base / "o.tkp", {"--sign", otherKey});
    const size_t record = bytes.size() - 140; // where the signature record begins
    ASSERT_EQ(bytes[record], '\x19');
    const std::string unsignedBytes = bytes.substr(0, record);
    makeTree(base / "newer2", {{"a", "other"}});
    CliRun second = run({"diff", base / "older", base / "newer2", base / "p2.tkp", "--sign", key});
    ASSERT_EQ(second.status, 0) << second.err;
    const std::string secondBytes = readFile(base / "p2.tkp");

    auto flipped = [&](size_t at) {
        std::string damaged = bytes;
        damaged[at] ^= 0x01;
        return damaged;
    };
    auto find = [&](const std::string& text) {
        const size_t at = bytes.find(text);
        EXPECT_LT(at, record) << text;
        return at;
    };
    std::string u16gone;
    for (char c : std::string("gone"))
        u16gone += std::string{c, '\0'};
    const std::string mismatch =
        "ostmere: The patch does not match its signature by key " + keyId + ".\n";
    const std::string notSigned = "ostmere: The patch is not signed, and only patches signed by "
                                  "a trusted key are accepted: " +
                                  (base / "t.tkp").string() + "\n";
    struct Case {
        std::string what, bytes, error;
    };
    std::vector<Case> cases = {
        {"header", flipped(0), mismatch},
        {"completion flag", flipped(28), mismatch},
        {"removal list", flipped(find(u16gone)), mismatch},
        {"stored content", flipped(find("stored-content-of-new")), mismatch},
        {"signature record version", flipped(record + 2), notSigned},
        {"signature record digest", flipped(record + 44), mismatch},
        {"signature record signature", flipped(bytes.size() - 1), mismatch},
        {"last byte cut off", bytes.substr(0, bytes.size() - 1), notSigned},
        {"re-signed by an untrusted key", foreign,
         "ostmere: The patch is signed by key " + readFile(otherKey).substr(23, 16) +
             ", which is not trusted.\n"},
        {"unsigned", unsignedBytes, notSigned},
        {"signature record of another patch",
         unsignedBytes + secondBytes.substr(secondBytes.size() - 140), mismatch},
    };
    if (loadInfo(base / "p.tkp").hasMetadata) // its record ends just before the signature
        cases.push_back({"metadata record", flipped(record - 1), mismatch});

    const std::vector<std::string> before = describeTree(base / "target");
    const std::string trust = key.string() + ".pub";
    for (const auto& c : cases) {
        writeFile(base / "t.tkp", c.bytes);
        CliRun applied = run({"apply", base / "target", base / "t.tkp", "--trusted-key", trust});
        EXPECT_EQ(applied.status, 1) << c.what;
        EXPECT_EQ(applied.err, c.error) << c.what;
        EXPECT_EQ(describeTree(base / "target"), before) << c.what;
        CliRun verified = run({"verify", base / "t.tkp", "--trusted-key", trust});
        EXPECT_EQ(verified.status, 1) << c.what;
        EXPECT_EQ(verified.err, c.error) << c.what;
        // Refused before the target is looked at: a missing target is not what is reported.
        EXPECT_EQ(run({"apply", base / "absent", base / "t.tkp", "--trusted-key", trust}).err,
                  c.error)
            << c.what;
    }
    // The untouched patch applies.
    CliRun good = run({"apply", base / "target", base / "p.tkp", "--trusted-key", trust});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, "New fingerprint verified.\n");
    EXPECT_EQ(good.err, "");
}

} // namespace
