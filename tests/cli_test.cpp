// Conventions of the ostmere program: outputs, error texts and exit statuses.
#include "clirun.h"
#include "ostmere_version.h"
#include "patchsupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct Expect {
    enum Mode { exact, prefix, contains } mode;
    std::vector<std::string> parts;
};
Expect exactly(std::string s) {
    return {Expect::exact, {std::move(s)}};
}
Expect startsWith(std::string s) {
    return {Expect::prefix, {std::move(s)}};
}
Expect holds(std::vector<std::string> parts) {
    return {Expect::contains, std::move(parts)};
}
const Expect kNothing = exactly("");

// "@T" stands for the test tree (as given), "@B" for it as the engine shows it, "@S" for a
// scratch folder for outputs outside the tree.
struct Places {
    std::string tree, shown, scratch;
};

std::string expand(std::string s, const Places& at) {
    for (auto [token, value] :
         {std::pair{"@T", at.tree}, std::pair{"@B", at.shown}, std::pair{"@S", at.scratch}})
        for (size_t at; (at = s.find(token)) != std::string::npos;)
            s.replace(at, 2, value);
    return s;
}

void check(const Expect& e, const std::string& actual, const Places& at, const char* stream) {
    for (const auto& raw : e.parts) {
        const std::string part = expand(raw, at);
        switch (e.mode) {
        case Expect::exact:
            EXPECT_EQ(actual, part) << stream;
            break;
        case Expect::prefix:
            EXPECT_EQ(actual.substr(0, part.size()), part) << stream << ":\n" << actual;
            break;
        case Expect::contains:
            EXPECT_NE(actual.find(part), std::string::npos)
                << stream << " lacks \"" << part << "\":\n"
                << actual;
            break;
        }
    }
}

struct CliCase {
    std::vector<std::string> args;
    int status;
    Expect out, err;
};

const std::string kEmptyFp = "da39a3ee5e6b4b0d3255bfef95601890afd80709\n";
const std::string kOnlyAFp = "d7b1872c73b53e0ffd9cf39a6b5c19630b565ad5\n";
const std::string kOnlySubFp = "c0e1ab50bf34243b54f5457f652b1b9a9066a73d\n";
const std::string kStages = "Counting all files\nCollecting files...\nGetting File attributes...\n"
                            "Calculating file ids...\nCalculating directory fingerprint...\n"
                            "Fingerprint calculated.\n";
const std::vector<std::string> kCommandLines = {
    "  fingerprint  print the fingerprint of a directory tree\n",
    "  vault        record the state of a tree in an XML vault\n",
    "  diff         write a patch that turns OLDDIR into NEWDIR\n",
    "  diff-vault   write a patch from a vault's state to NEWDIR\n",
    "  apply        apply a patch to a directory, checked by fingerprints\n",
    "  query        write the XML diff report of a patch\n",
    "  verify       check the structure of a patch\n",
    "  keygen       make a key pair for signing patches\n"};
const std::string kTryHelp = "\nTry 'ostmere --help'.\n";
const std::string kExitStatuses =
    "Exit status:\n  0    success\n  1    error (the reason on stderr, after \"ostmere:\")\n"
    "  2    usage error\n  3    patch applied, but the directory's new fingerprint does not "
    "match\n  4    the directory is not the tree the patch was made from (nothing changed)\n"
    "  130  cancelled (Ctrl-C or SIGTERM)\n";
// A patch from onlyA to onlySub, made before the cases run.
const std::string kPatchSummary = "older fingerprint  d7b1872c73b53e0ffd9cf39a6b5c19630b565ad5\n"
                                  "newer fingerprint  c0e1ab50bf34243b54f5457f652b1b9a9066a73d\n"
                                  "removes            1 files, 0 directories\n"
                                  "creates            1 directories\n"
                                  "stores             1 new and 0 changed files, 0 B\n"
                                  "sets               2 attribute words\n"
                                  "signature          none\n"
                                  "Patch structure verified.\n";

std::vector<std::string> withUsage(std::vector<std::string> parts) {
    parts.push_back("Usage: ostmere [OPTIONS] COMMAND ARGUMENTS...\n");
    parts.push_back(kExitStatuses);
    return parts;
}

Expect usage(const std::string& message) {
    return exactly("ostmere: " + message + kTryHelp);
}

const std::vector<CliCase>& cliCases() {
    static const std::vector<CliCase> cases = {
        // fingerprints: one line on stdout, nothing on stderr
        {{"fingerprint", "@T/empty"}, 0, exactly(kEmptyFp), kNothing},
        {{"fingerprint", "@T/onlyA"}, 0, exactly(kOnlyAFp), kNothing},
        {{"fingerprint", "@T/onlySub"}, 0, exactly(kOnlySubFp), kNothing},
        {{"fingerprint", "@T/onlySub/"}, 0, exactly(kOnlySubFp), kNothing},
        {{"fingerprint", "@T/onlySub//"}, 0, exactly(kOnlySubFp), kNothing},
        {{"fingerprint", "@T/withObj", "--filter", "*.obj"}, 0, exactly(kOnlyAFp), kNothing},
        {{"fingerprint", "--filter=*.obj", "@T/withObj"}, 0, exactly(kOnlyAFp), kNothing},
        {{"fingerprint", "--", "@T/empty"}, 0, exactly(kEmptyFp), kNothing},
        {{"--quiet", "fingerprint", "@T/onlyA"}, 0, exactly(kOnlyAFp), kNothing},
        // the number of hashing threads changes nothing but the speed
        {{"-j", "1", "fingerprint", "@T/onlyA"}, 0, exactly(kOnlyAFp), kNothing},
        {{"fingerprint", "--jobs=7", "@T/onlyA"}, 0, exactly(kOnlyAFp), kNothing},
        {{"--verbose", "fingerprint", "@T/empty"}, 0, exactly(kEmptyFp), exactly(kStages)},
        {{"fingerprint", "@T/empty", "--verbose"}, 0, exactly(kEmptyFp), exactly(kStages)},
        // options anywhere, short forms, one pass
        {{"fingerprint", "@T/empty", "-q"}, 0, exactly(kEmptyFp), kNothing},
        {{"fingerprint", "-v", "@T/empty"}, 0, exactly(kEmptyFp), exactly(kStages)},
        {{"fingerprint", "@T/onlyA", "--filter", "--help"}, 0, exactly(kOnlyAFp), kNothing},
        // engine errors: one "ostmere:" line with the path as given, exit 1
        {{"fingerprint", "@T/missing"},
         1,
         kNothing,
         exactly("ostmere: Directory for fingerprinting does  not exists: @T/missing\n")},
        {{"fingerprint", "@T/missing/"},
         1,
         kNothing,
         exactly("ostmere: Directory for fingerprinting does  not exists: @T/missing\n")},
        {{"--quiet", "fingerprint", "@T/onlyA/a"},
         1,
         kNothing,
         exactly("ostmere: Directory for fingerprinting does  not exists: @T/onlyA/a\n")},
        {{"fingerprint", "@T/missing", "--verbose"},
         1,
         kNothing,
         holds(
             {"ostmere: Directory for fingerprinting does  not exists: @T/missing\n"
              "Error type:0\nMessage: Directory for fingerprinting does  not exists: @B\\missing\n",
              "\nLocation: ostmereapi.cpp line:"})},
        {{"vault", "@T/missing", "@T/v.tkv"},
         1,
         kNothing,
         exactly("ostmere: Directory for patch application does  not exists: @T/missing\n")},
        {{"diff", "@T/missing", "@T/empty", "@T/p2.tkp"},
         1,
         kNothing,
         exactly("ostmere: Older directory for patch creation does  not exists: @T/missing\n")},
        {{"query", "", "@T/r.xml"}, 1, kNothing, exactly("ostmere: No patch file specified\n")},
        // a failed system call adds its reason
        {{"verify", "@T/nosuch.tkp"},
         1,
         kNothing,
         exactly("ostmere: Unable to ioen file:@T/nosuch.tkp: No such file or directory\n")},
        {{"verify", "@T/onlyA/a"},
         1,
         kNothing,
         exactly("ostmere: Unable to read a buffer from a patch.\n")},
        // usage errors: exit 2, the reason and a hint on stderr, nothing on stdout
        {{}, 2, kNothing, usage("no command given")},
        {{"fingerprint"},
         2,
         kNothing,
         usage("missing DIR for 'fingerprint': ostmere fingerprint DIR [--filter TEXT]")},
        {{"fingerprint", "@T/empty", "@T/onlyA"},
         2,
         kNothing,
         usage("unexpected argument '@T/onlyA' for 'fingerprint': ostmere fingerprint DIR "
               "[--filter TEXT]")},
        {{"fingerprint", "@T/empty", "--bogus"}, 2, kNothing, usage("unknown option '--bogus'")},
        {{"fingerprint", "-x", "@T/empty"}, 2, kNothing, usage("unknown option '-x'")},
        {{"fingerprint", "@T/empty", "--filter"},
         2,
         kNothing,
         usage("option '--filter' needs a value")},
        {{"-j", "fingerprint", "@T/empty"},
         2,
         kNothing,
         usage("option '--jobs' needs a whole number from 1 to 1024, not 'fingerprint'")},
        {{"fingerprint", "@T/empty", "--jobs=0"},
         2,
         kNothing,
         usage("option '--jobs' needs a whole number from 1 to 1024, not '0'")},
        {{"fingerprint", "@T/empty", "--report", "x"},
         2,
         kNothing,
         usage("option '--report' does not apply to 'fingerprint'")},
        {{"query", "@T/p.tkp", "-", "--dry-run"},
         2,
         kNothing,
         usage("option '--dry-run' does not apply to 'query'")},
        {{"fingerprint", "--", "-q"},
         1,
         kNothing,
         exactly("ostmere: Directory for fingerprinting does  not exists: -q\n")},
        {{"fingerprint", "--", "--help"},
         1,
         kNothing,
         exactly("ostmere: Directory for fingerprinting does  not exists: --help\n")},
        {{"nosuch"}, 2, kNothing, usage("unknown command 'nosuch'")},
        {{"--bogus"}, 2, kNothing, usage("unknown option '--bogus'")},
        {{"help", "nosuch"}, 2, kNothing, usage("unknown command 'nosuch'")},
        // version and help on stdout, exit 0
        {{"--version"}, 0, exactly("ostmere " OSTMERE_VERSION "\n"), kNothing},
        {{"--help"}, 0, holds(withUsage(kCommandLines)), kNothing},
        {{"-h"}, 0, holds(withUsage(kCommandLines)), kNothing},
        {{"help"}, 0, holds(withUsage(kCommandLines)), kNothing},
        {{"help", "fingerprint"},
         0,
         startsWith("Usage: ostmere fingerprint DIR [--filter TEXT]\n\nPrints the 40-digit"),
         kNothing},
        {{"help", "apply"},
         0,
         holds(
             {"Usage: ostmere apply DIR PATCH [--report FILE] [--dry-run] [--continue-on-errors] "
              "[--ignore-fingerprint] [--keep-setuid] [--trusted-key PUBFILE] [--allow-unsigned]\n",
              "  -n, --dry-run              check the target and the whole patch and list the "
              "changes; change nothing\n",
              "      --report FILE          also write an XML diff report to FILE ('-' for "
              "stdout)\n",
              kExitStatuses}),
         kNothing},
        {{"fingerprint", "--help"}, 0, startsWith("Usage: ostmere fingerprint DIR"), kNothing},
        {{"fingerprint", "-h", "--bogus-after-help"},
         2,
         kNothing,
         usage("unknown option '--bogus-after-help'")},
        {{"diff-vault", "x", "-h"},
         0,
         startsWith("Usage: ostmere diff-vault NEWDIR VAULT PATCH [--report FILE] [--update-vault] "
                    "[--compact] [--sign KEYFILE]\n"),
         kNothing},
        // the patch's structure, its report on stdout, machine-readable outcomes
        {{"verify", "@T/p.tkp"}, 0, exactly(kPatchSummary), kNothing},
        {{"verify", "-q", "@T/p.tkp"}, 0, kNothing, kNothing},
        {{"query", "@T/p.tkp", "-"},
         0,
         holds({"<?xml version=\"1.0\"?>\n", "<tkDiffPatchReport Version=\"1.0\">",
                "</tkDiffPatchReport>"}),
         kNothing},
        {{"--json", "fingerprint", "@T/onlyA"},
         0,
         holds({"{\"command\":\"fingerprint\",\"directory\":\"@T/onlyA\",\"fingerprint\":"
                "\"d7b1872c73b53e0ffd9cf39a6b5c19630b565ad5\",\"bytesHashed\":0,\"exitStatus\":0,"
                "\"seconds\":",
                "}\n"}),
         kNothing},
        {{"verify", "@T/p.tkp", "--json"},
         0,
         holds({"{\"command\":\"verify\",\"patchFile\":\"@T/p.tkp\",\"patch\":{"
                "\"olderFingerprint\":\"d7b1872c73b53e0ffd9cf39a6b5c19630b565ad5\","
                "\"newerFingerprint\":\"c0e1ab50bf34243b54f5457f652b1b9a9066a73d\",\"filter\":\"\","
                "\"removeFiles\":1,\"removeDirectories\":0,\"createDirectories\":1,\"newFiles\":1,"
                "\"changedFiles\":0,\"attributeChanges\":2,\"ignoredNew\":0,\"ignoredOld\":0,"
                "\"storedBytes\":0,\"patchBytes\":",
                "\"exitStatus\":0,"}),
         kNothing},
        {{"query", "@T/p.tkp", "@S/r.xml", "--json"},
         0,
         holds({"{\"command\":\"query\",\"patchFile\":\"@T/p.tkp\",\"report\":\"@S/r.xml\","
                "\"patch\":{\"olderFingerprint\":"}),
         kNothing},
        {{"query", "@T/p.tkp", "-", "--json"},
         2,
         kNothing,
         usage("--json and a report on stdout ('-') cannot share stdout")},
        {{"--json", "fingerprint", "@T/missing"},
         1,
         exactly("{\"command\":\"fingerprint\",\"error\":\"Directory for fingerprinting does  not "
                 "exists: @T/missing\",\"exitStatus\":1}\n"),
         exactly("ostmere: Directory for fingerprinting does  not exists: @T/missing\n")},
    };
    return cases;
}

TEST(Cli, ConventionsTable) {
    TempDir tmp, scratch;
    makeTree(tmp.path(), {{"empty/", ""},
                          {"onlyA/a", ""},
                          {"onlySub/sub/b.txt", ""},
                          {"withObj/a", ""},
                          {"withObj/x.obj", "ignored"}});
    diffPatch(tmp / "onlyA", tmp / "onlySub", tmp / "p.tkp");
    const Places at{tmp.path().string(), enginePath(tmp.path()), (scratch / "out").string()};
    fs::create_directory(scratch / "out");
    for (const auto& c : cliCases()) {
        std::vector<std::string> args;
        std::string line;
        for (const auto& a : c.args) {
            args.push_back(expand(a, at));
            line += " '" + a + "'";
        }
        SCOPED_TRACE("ostmere" + line);
        const auto before = describeTree(tmp.path());
        CliRun run = runCli(args, scratch.path());
        EXPECT_EQ(run.status, c.status);
        check(c.out, run.out, at, "stdout");
        check(c.err, run.err, at, "stderr");
        EXPECT_EQ(describeTree(tmp.path()), before) << "the tree must be left as it was";
    }
}

} // namespace
