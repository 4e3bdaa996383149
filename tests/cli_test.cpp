// Conventions of the ostmere program: outputs, error texts and exit statuses.
#include "clirun.h"
#include "ostmere_version.h"
#include "testsupport.h"

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

// "@T" stands for the scratch tree (as given), "@B" for it as the engine shows it.
std::string expand(std::string s, const std::string& tree, const std::string& shown) {
    for (auto [token, value] : {std::pair{"@T", tree}, std::pair{"@B", shown}})
        for (size_t at; (at = s.find(token)) != std::string::npos;)
            s.replace(at, 2, value);
    return s;
}

void check(const Expect& e, const std::string& actual, const std::string& tree,
           const std::string& shown, const char* stream) {
    for (const auto& raw : e.parts) {
        const std::string part = expand(raw, tree, shown);
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
const std::vector<std::string> kSynopses = {
    "fingerprint DIR [--filter TEXT]",
    "vault DIR VAULT [--filter TEXT]",
    "diff OLDDIR NEWDIR PATCH [--report FILE] [--filter TEXT]",
    "diff-vault NEWDIR VAULT PATCH [--report FILE] [--update-vault]",
    "apply DIR PATCH [--report FILE] [--continue-on-errors] [--ignore-fingerprint]",
    "query PATCH REPORT"};
const std::string kTryHelp = "Try 'ostmere --help'.";

std::vector<std::string> withUsage(std::vector<std::string> parts) {
    parts.push_back("Usage: ostmere");
    parts.push_back("Exit status: 0 success, 1 error, 2 usage error");
    return parts;
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
        {{"--verbose", "fingerprint", "@T/empty"}, 0, exactly(kEmptyFp), exactly(kStages)},
        {{"fingerprint", "@T/empty", "--verbose"}, 0, exactly(kEmptyFp), exactly(kStages)},
        // engine errors: the four-line text on stderr, exit 1
        {{"fingerprint", "@T/missing"},
         1,
         kNothing,
         startsWith("Error type:0\nMessage: Directory for fingerprinting does  not exists: "
                    "@B\\missing\nError Code: ")},
        {{"fingerprint", "@T/missing/"},
         1,
         kNothing,
         holds({"Message: Directory for fingerprinting does  not exists: @B\\missing\n",
                "\nLocation: ostmereapi.cpp line:"})},
        {{"--quiet", "fingerprint", "@T/onlyA/a"},
         1,
         kNothing,
         holds({"Message: Directory for fingerprinting does  not exists: @B\\onlyA\\a\n"})},
        {{"vault", "@T/missing", "@T/v.tkv"},
         1,
         kNothing,
         holds({"Message: Directory for patch application does  not exists: @B\\missing\n",
                "Location: vault.cpp line:"})},
        {{"diff", "@T/missing", "@T/empty", "@T/p.tkp"},
         1,
         kNothing,
         holds({"Message: Older directory for patch creation does  not exists: @B\\missing\n"})},
        {{"query", "", "@T/r.xml"},
         1,
         kNothing,
         holds({"Message: No patch file specified: \n", "Location: patchReader.cpp line:"})},
        // usage errors: exit 2, a hint on stderr, nothing on stdout
        {{}, 2, kNothing, holds(withUsage(kSynopses))},
        {{"fingerprint"}, 2, kNothing, holds({"'fingerprint' takes 1 arguments", kTryHelp})},
        {{"fingerprint", "@T/empty", "@T/onlyA"}, 2, kNothing, holds({kTryHelp})},
        {{"fingerprint", "@T/empty", "--bogus"},
         2,
         kNothing,
         holds({"unknown option --bogus for 'fingerprint'", kTryHelp})},
        {{"fingerprint", "@T/empty", "--filter"},
         2,
         kNothing,
         holds({"option --filter needs a value"})},
        {{"fingerprint", "@T/empty", "--report", "x"},
         2,
         kNothing,
         holds({"unknown option --report"})},
        {{"nosuch"}, 2, kNothing, holds({"unknown command 'nosuch'", kTryHelp})},
        {{"--bogus"}, 2, kNothing, holds({"unknown option --bogus", kTryHelp})},
        {{"help", "nosuch"}, 2, kNothing, holds({"unknown command 'nosuch'"})},
        // version and help on stdout, exit 0
        {{"--version"}, 0, exactly("ostmere " OSTMERE_VERSION "\n"), kNothing},
        {{"--help"}, 0, holds(withUsage(kSynopses)), kNothing},
        {{"help"}, 0, holds(withUsage(kSynopses)), kNothing},
        {{"help", "fingerprint"},
         0,
         startsWith("Usage: ostmere fingerprint DIR [--filter TEXT]\n\nPrints the 40-digit"),
         kNothing},
        {{"help", "apply"}, 0, startsWith("Usage: ostmere " + kSynopses[4] + "\n"), kNothing},
        {{"help", "query"},
         0,
         holds({"Usage: ostmere query PATCH REPORT\n", "Exit status:"}),
         kNothing},
        {{"fingerprint", "--help"}, 0, startsWith("Usage: ostmere fingerprint DIR"), kNothing},
        {{"diff-vault", "x", "--help"}, 0, startsWith("Usage: ostmere " + kSynopses[3]), kNothing},
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
    const std::string tree = tmp.path().string();
    const std::string shown = enginePath(tmp.path());
    for (const auto& c : cliCases()) {
        std::vector<std::string> args;
        std::string line;
        for (const auto& a : c.args) {
            args.push_back(expand(a, tree, shown));
            line += " '" + a + "'";
        }
        SCOPED_TRACE("ostmere" + line);
        const auto before = describeTree(tmp.path());
        CliRun run = runCli(args, scratch.path());
        EXPECT_EQ(run.status, c.status);
        check(c.out, run.out, tree, shown, "stdout");
        check(c.err, run.err, tree, shown, "stderr");
        EXPECT_EQ(describeTree(tmp.path()), before) << "the tree must be left as it was";
    }
}

} // namespace
