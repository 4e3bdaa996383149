#include "commands.h"

#include <cstdio>

namespace {

std::u16string w(const std::string& text) {
    return utf8ToUtf16(text);
}

// Prints the operation's closing status on stdout.
int reportStatus(ConsoleSink& sink) {
    sink.endDisplay();
    std::printf("%s\n", utf16ToUtf8(sink.lastStatus()).c_str());
    return 0;
}

int runFingerprint(const Invocation& a, ConsoleSink& sink) {
    std::u16string fp = tkFingerprint(&sink, w(a.positional[0]), w(a.value("filter")));
    sink.endDisplay();
    std::printf("%s\n", utf16ToUtf8(fp).c_str());
    return 0;
}

int runVault(const Invocation& a, ConsoleSink& sink) {
    tkCreateVault(&sink, w(a.positional[0]), w(a.value("filter")), w(a.positional[1]));
    return reportStatus(sink);
}

int runDiff(const Invocation& a, ConsoleSink& sink) {
    tkDiffCreatePatch(&sink, w(a.positional[0]), w(a.positional[1]), w(a.positional[2]),
                      w(a.value("report")), w(a.value("filter")));
    return reportStatus(sink);
}

int runDiffVault(const Invocation& a, ConsoleSink& sink) {
    tkCreatePatchVault(&sink, w(a.positional[0]), w(a.positional[2]), w(a.positional[1]),
                       w(a.value("report")), a.flag("update-vault"));
    return reportStatus(sink);
}

int runApply(const Invocation& a, ConsoleSink& sink) {
    tkApplyPatch(&sink, w(a.positional[0]), w(a.positional[1]), w(a.value("report")),
                 a.flag("continue-on-errors"), a.flag("ignore-fingerprint"));
    if (sink.lastStatus() == u"After patch has been aplied fingerprints do not match.") {
        sink.endDisplay();
        std::fprintf(stderr, "%s\n", utf16ToUtf8(sink.lastStatus()).c_str());
        return 3;
    }
    return reportStatus(sink);
}

int runQuery(const Invocation& a, ConsoleSink& sink) {
    tkQuerryPatch(&sink, w(a.positional[0]), w(a.positional[1]));
    return reportStatus(sink);
}

} // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"fingerprint",
         "fingerprint DIR [--filter TEXT]",
         "Prints the 40-digit fingerprint of DIR: one SHA-1 over the sorted paths, attribute\n"
         "words and file contents of the tree. Entries matching the ignore filter TEXT\n"
         "(patterns separated by ';', '*' as wildcard, case-sensitive) are left out.",
         {"filter"},
         {},
         1,
         runFingerprint},
        {"vault",
         "vault DIR VAULT [--filter TEXT]",
         "Records the state of DIR in the XML vault file VAULT, so that a patch can later be\n"
         "made against it without the tree at hand.",
         {"filter"},
         {},
         2,
         runVault},
        {"diff",
         "diff OLDDIR NEWDIR PATCH [--report FILE] [--filter TEXT]",
         "Writes PATCH, which turns a copy of OLDDIR into NEWDIR. --report also writes an XML\n"
         "diff report describing the patch.",
         {"report", "filter"},
         {},
         3,
         runDiff},
        {"diff-vault",
         "diff-vault NEWDIR VAULT PATCH [--report FILE] [--update-vault]",
         "Writes PATCH, which turns a tree in the state recorded in VAULT into NEWDIR. The\n"
         "vault's own ignore filter is used. --update-vault rewrites VAULT to the state of\n"
         "NEWDIR once the patch is complete.",
         {"report"},
         {"update-vault"},
         3,
         runDiffVault},
        {"apply",
         "apply DIR PATCH [--report FILE] [--continue-on-errors] [--ignore-fingerprint]",
         "Applies PATCH to DIR. DIR must have the fingerprint the patch was made from, and is\n"
         "verified against the newer fingerprint afterwards (exit status 3 when it differs).\n"
         "--continue-on-errors skips items that cannot be removed, created or written (not\n"
         "recommended); --ignore-fingerprint skips fingerprint and stored-file checks (unsafe).\n"
         "--report writes an XML report of what was done.",
         {"report"},
         {"continue-on-errors", "ignore-fingerprint"},
         2,
         runApply},
        {"query",
         "query PATCH REPORT",
         "Writes the XML diff report of an existing PATCH to REPORT.",
         {},
         {},
         2,
         runQuery},
    };
    return table;
}

const Command* findCommand(const std::string& name) {
    for (const auto& c : commands())
        if (name == c.name)
            return &c;
    return nullptr;
}
