#include "commands.h"

#include "messages.h"
#include "trust.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace ostmere;

namespace {

using Clock = std::chrono::steady_clock;

std::u16string w(const std::string& text) {
    return utf8ToUtf16(text);
}

// A report destination: the named file, or for "-" a private temporary file whose content
// goes to stdout once the engine has written it (the engine writes reports to files only).
class ReportTarget {
  public:
    explicit ReportTarget(std::string path) : path_(std::move(path)) {
        if (path_ != "-")
            return;
        std::string dir = (fs::temp_directory_path() / "ostmere-XXXXXX").string();
        if (!mkdtemp(dir.data()))
            throw std::runtime_error("cannot make a temporary folder for the report");
        tempDir_ = dir;
    }
    ~ReportTarget() {
        std::error_code ignored;
        if (!tempDir_.empty())
            fs::remove_all(tempDir_, ignored);
    }
    ReportTarget(const ReportTarget&) = delete;
    ReportTarget& operator=(const ReportTarget&) = delete;

    bool toStdout() const { return !tempDir_.empty(); }
    std::u16string enginePath() const {
        return w(toStdout() ? (fs::path(tempDir_) / "report.xml").string() : path_);
    }
    // Copies the report to stdout when it goes there.
    void deliver() const {
        if (!toStdout())
            return;
        std::ifstream in(fs::path(tempDir_) / "report.xml", std::ios::binary);
        char chunk[65536];
        while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
            if (std::fwrite(chunk, 1, static_cast<size_t>(in.gcount()), stdout) !=
                static_cast<size_t>(in.gcount()))
                throw std::runtime_error("cannot write the report to stdout");
        std::fflush(stdout);
    }

  private:
    std::string path_, tempDir_;
};

// How a command ends: the closing line for people, or one JSON object for scripts.
class Outcome {
  public:
    Outcome(const Invocation& args, ConsoleSink& sink)
        : args_(args), sink_(sink), start_(Clock::now()) {
        json_.add("command", args.command);
    }
    JsonObject& json() { return json_; }

    // Prints line (unless quiet, or stdout carries something else) or the JSON object.
    int finish(const std::string& line, int status = kExitOk, bool stdoutTaken = false) {
        sink_.endDisplay();
        if (args_.json) {
            json_.add("exitStatus", status);
            json_.addSeconds("seconds",
                             std::chrono::duration<double>(Clock::now() - start_).count());
            std::printf("%s\n", json_.text().c_str());
        } else if (!line.empty() && !stdoutTaken && args_.verbosity != Verbosity::quiet) {
            std::printf("%s\n", line.c_str());
        }
        return status;
    }

  private:
    const Invocation& args_;
    ConsoleSink& sink_;
    Clock::time_point start_;
    JsonObject json_;
};

// The engine's closing status as a line ("tkVault file Created. " loses its trailing blank).
std::string closingLine(const ConsoleSink& sink) {
    std::string line = utf16ToUtf8(sink.lastStatus());
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

uint64_t fileSize(const std::string& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? 0 : size;
}

int runFingerprint(const Invocation& a, ConsoleSink& sink) {
    Outcome outcome(a, sink);
    const std::u16string fp = tkFingerprint(&sink, w(a.positional[0]), w(a.value("filter")));
    sink.endDisplay();
    if (!a.json)
        std::printf("%s\n", utf16ToUtf8(fp).c_str()); // the result, shown even with --quiet
    outcome.json()
        .add("directory", a.positional[0])
        .add("fingerprint", fp)
        .add("bytesHashed", sink.totalBytes());
    return outcome.finish("");
}

int runVault(const Invocation& a, ConsoleSink& sink) {
    Outcome outcome(a, sink);
    tkCreateVault(&sink, w(a.positional[0]), w(a.value("filter")), w(a.positional[1]));
    outcome.json()
        .add("directory", a.positional[0])
        .add("vault", a.positional[1])
        .add("vaultBytes", fileSize(a.positional[1]))
        .add("bytesHashed", sink.totalBytes());
    return outcome.finish(closingLine(sink));
}

int runKeygen(const Invocation& a, ConsoleSink& sink) {
    Outcome outcome(a, sink);
    const std::string keyFile = a.positional[0];
    const std::u16string keyId = createSigningKey(w(keyFile));
    outcome.json()
        .add("keyFile", keyFile)
        .add("publicKeyFile", keyFile + ".pub")
        .add("keyId", keyId);
    if (!a.json)
        std::printf("%s\n", utf16ToUtf8(keyId).c_str()); // the result, shown even with --quiet
    return outcome.finish("");
}

// The part that both patch-creating commands share once the engine has written the patch.
int finishCreation(const Invocation& a, ConsoleSink& sink, Outcome& outcome,
                   const ReportTarget& report, const std::string& patch) {
    const std::string line = closingLine(sink);
    report.deliver();
    if (a.json)
        outcome.json()
            .add("patchFile", patch)
            .add("report", a.value("report"))
            .add("patch", patchJson(describePatch(&sink, w(patch))));
    return outcome.finish(line, kExitOk, report.toStdout());
}

CreateOptions createOptions(const Invocation& a) {
    CreateOptions options;
    options.compact = a.flag("compact");
    options.signingKeyFile = w(a.value("sign"));
    return options;
}

int runDiff(const Invocation& a, ConsoleSink& sink) {
    Outcome outcome(a, sink);
    ReportTarget report(a.value("report"));
    createPatchFromDirectories(&sink, w(a.positional[0]), w(a.positional[1]), w(a.positional[2]),
                               report.enginePath(), w(a.value("filter")), createOptions(a));
    outcome.json().add("olderDirectory", a.positional[0]).add("newerDirectory", a.positional[1]);
    return finishCreation(a, sink, outcome, report, a.positional[2]);
}

int runDiffVault(const Invocation& a, ConsoleSink& sink) {
    Outcome outcome(a, sink);
    ReportTarget report(a.value("report"));
    createPatchFromVault(&sink, w(a.positional[0]), w(a.positional[2]), w(a.positional[1]),
                         report.enginePath(), a.flag("update-vault"), createOptions(a));
    outcome.json()
        .add("newerDirectory", a.positional[0])
        .add("vault", a.positional[1])
        .add("vaultUpdated", a.flag("update-vault"));
    return finishCreation(a, sink, outcome, report, a.positional[2]);
}

std::vector<std::u16string> relativeList(const std::deque<std::u16string>& paths) {
    std::vector<std::u16string> list;
    for (const auto& p : paths)
        list.push_back(w(relativeText(p)));
    return list;
}

std::string attributeText(uint32_t word) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", word);
    return text;
}

void printChanges(const PatchCheck& c) {
    auto print = [](const char* what, const std::deque<std::u16string>& paths) {
        for (const auto& p : paths)
            std::printf("%-18s %s\n", what, relativeText(p).c_str());
    };
    print("remove file", c.removeFiles);
    print("remove directory", c.removeDirectories);
    print("create directory", c.createDirectories);
    print("write file", c.writeFiles);
    for (const auto& [path, word] : c.setAttributes)
        std::printf("%-18s %s %s\n", "set attributes", attributeText(word).c_str(),
                    relativeText(path).c_str());
}

JsonObject changesJson(const PatchCheck& c) {
    JsonObject attributes;
    for (const auto& [path, word] : c.setAttributes)
        attributes.add(relativeText(path), static_cast<uint64_t>(word));
    JsonObject changes;
    changes.add("removeFiles", relativeList(c.removeFiles))
        .add("removeDirectories", relativeList(c.removeDirectories))
        .add("createDirectories", relativeList(c.createDirectories))
        .add("writeFiles", relativeList(c.writeFiles))
        .add("setAttributes", attributes);
    return changes;
}

int runDryRun(const Invocation& a, ConsoleSink& sink) {
    Outcome outcome(a, sink);
    checkTrust(a, sink, a.positional[1], true);
    const PatchCheck check = checkPatch(&sink, w(a.positional[0]), w(a.positional[1]));
    sink.endDisplay();
    const bool refused = !check.targetMatches && !a.flag("ignore-fingerprint");
    const int status = refused ? kExitTargetMismatch : kExitOk;
    outcome.json()
        .add("dryRun", true)
        .add("directory", a.positional[0])
        .add("patch", patchJson(check.patch))
        .add("targetFingerprint", check.targetFingerprint)
        .add("targetMatches", check.targetMatches)
        .add("contentsVerified", check.contentsVerified)
        .add("changes", changesJson(check));
    if (!a.json && a.verbosity != Verbosity::quiet)
        printChanges(check);
    if (refused)
        std::fprintf(stderr,
                     "ostmere: %s is not the tree the patch was made from (fingerprint %s, the "
                     "patch needs %s)\n",
                     a.positional[0].c_str(), utf16ToUtf8(check.targetFingerprint).c_str(),
                     utf16ToUtf8(check.patch.olderFingerprint).c_str());
    std::string line = "Dry run: nothing was changed.";
    if (check.contentsVerified)
        line += " The stored contents make the newer tree.";
    return outcome.finish(line, status);
}

const char* resultName(ApplyResult result) {
    switch (result) {
    case ApplyResult::verified:
        return "verified";
    case ApplyResult::newerMismatch:
        return "newerMismatch";
    case ApplyResult::notVerified:
        return "notVerified";
    case ApplyResult::metadataMismatch:
        return "metadataMismatch";
    }
    return "";
}

int runApply(const Invocation& a, ConsoleSink& sink) {
    if (a.flag("dry-run"))
        return runDryRun(a, sink);
    Outcome outcome(a, sink);
    // Before the patch is read for anything else and before the target is scanned.
    checkTrust(a, sink, a.positional[1], true);
    ReportTarget report(a.value("report"));
    if (a.json)
        outcome.json()
            .add("directory", a.positional[0])
            .add("patch", patchJson(describePatch(&sink, w(a.positional[1]))));
    const ApplyResult result = applyPatch(
        &sink, w(a.positional[0]), w(a.positional[1]), report.enginePath(),
        {a.flag("continue-on-errors"), a.flag("ignore-fingerprint"), a.flag("keep-setuid")});
    const std::string line = closingLine(sink);
    report.deliver();
    outcome.json().add("result", resultName(result)).add("report", a.value("report"));
    if (result == ApplyResult::newerMismatch || result == ApplyResult::metadataMismatch) {
        sink.endDisplay();
        std::fprintf(stderr, "ostmere: %s\n", line.c_str());
        return outcome.finish("", kExitNewerMismatch);
    }
    return outcome.finish(line, kExitOk, report.toStdout());
}

int runQuery(const Invocation& a, ConsoleSink& sink) {
    Outcome outcome(a, sink);
    checkTrust(a, sink, a.positional[0], false);
    ReportTarget report(a.positional[1]);
    tkQuerryPatch(&sink, w(a.positional[0]), report.enginePath());
    const std::string line = closingLine(sink);
    report.deliver();
    if (a.json)
        outcome.json()
            .add("patchFile", a.positional[0])
            .add("report", a.positional[1])
            .add("patch", patchJson(describePatch(&sink, w(a.positional[0]))));
    return outcome.finish(line, kExitOk, report.toStdout());
}

std::string signatureText(const SignatureStatus& s) {
    if (!s.present)
        return "none";
    return "key " + utf16ToUtf8(s.keyId) +
           (s.verified ? ", verified with a trusted key" : ", not checked (no key is trusted)");
}

JsonObject signatureJson(const SignatureStatus& s) {
    JsonObject j;
    j.add("present", s.present).add("keyId", s.keyId).add("trusted", s.verified);
    return j;
}

int runVerify(const Invocation& a, ConsoleSink& sink) {
    Outcome outcome(a, sink);
    const SignatureStatus signature = checkTrust(a, sink, a.positional[0], false);
    const PatchSummary s = describePatch(&sink, w(a.positional[0]));
    sink.endDisplay();
    if (!a.json && a.verbosity != Verbosity::quiet) {
        std::printf("older fingerprint  %s\n", utf16ToUtf8(s.olderFingerprint).c_str());
        std::printf("newer fingerprint  %s\n", utf16ToUtf8(s.newerFingerprint).c_str());
        std::printf("removes            %llu files, %llu directories\n",
                    static_cast<unsigned long long>(s.removedFiles),
                    static_cast<unsigned long long>(s.removedDirectories));
        std::printf("creates            %llu directories\n",
                    static_cast<unsigned long long>(s.newDirectories));
        std::printf("stores             %llu new and %llu changed files, %s\n",
                    static_cast<unsigned long long>(s.newFiles),
                    static_cast<unsigned long long>(s.changedFiles),
                    byteText(s.storedBytes).c_str());
        if (s.compact)
            std::printf("format             compact, %s once extracted\n",
                        byteText(s.originalBytes).c_str());
        std::printf("sets               %llu attribute words\n",
                    static_cast<unsigned long long>(s.attributeChanges));
        std::printf("signature          %s\n", signatureText(signature).c_str());
    }
    outcome.json()
        .add("patchFile", a.positional[0])
        .add("patch", patchJson(s))
        .add("signature", signatureJson(signature));
    return outcome.finish("Patch structure verified.");
}

} // namespace

JsonObject patchJson(const PatchSummary& s) {
    JsonObject j;
    j.add("olderFingerprint", s.olderFingerprint)
        .add("newerFingerprint", s.newerFingerprint)
        .add("filter", s.filter)
        .add("removeFiles", s.removedFiles)
        .add("removeDirectories", s.removedDirectories)
        .add("createDirectories", s.newDirectories)
        .add("newFiles", s.newFiles)
        .add("changedFiles", s.changedFiles)
        .add("attributeChanges", s.attributeChanges)
        .add("ignoredNew", s.ignoredNew)
        .add("ignoredOld", s.ignoredOld)
        .add("storedBytes", s.storedBytes)
        .add("patchBytes", s.patchBytes)
        .add("format", s.compact ? "compact" : "base")
        .add("originalBytes", s.originalBytes);
    return j;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"fingerprint",
         {"DIR"},
         "print the fingerprint of a directory tree",
         "Prints the 40-digit fingerprint of DIR: one SHA-1 over the sorted paths, attribute\n"
         "words and file contents of the tree. Entries matching the ignore filter are left out.",
         {"filter"},
         runFingerprint},
        {"vault",
         {"DIR", "VAULT"},
         "record the state of a tree in an XML vault",
         "Records the state of DIR in the XML vault file VAULT, so that a patch can later be\n"
         "made against it without the tree at hand.",
         {"filter"},
         runVault},
        {"diff",
         {"OLDDIR", "NEWDIR", "PATCH"},
         "write a patch that turns OLDDIR into NEWDIR",
         "Writes PATCH, which turns a copy of OLDDIR into NEWDIR. With --compact every file\n"
         "is stored compressed, and a changed file as a delta against its older version\n"
         "when that is smaller; only this program's apply reads that format.",
         {"report", "filter", "compact", "sign"},
         runDiff},
        {"diff-vault",
         {"NEWDIR", "VAULT", "PATCH"},
         "write a patch from a vault's state to NEWDIR",
         "Writes PATCH, which turns a tree in the state recorded in VAULT into NEWDIR. The\n"
         "vault's own ignore filter is used. With --compact every file is stored compressed\n"
         "(no deltas: the older files are not at hand).",
         {"report", "update-vault", "compact", "sign"},
         runDiffVault},
        {"apply",
         {"DIR", "PATCH"},
         "apply a patch to a directory, checked by fingerprints",
         "Applies PATCH to DIR. DIR must have the fingerprint the patch was made from (exit\n"
         "status 4 otherwise, nothing changed), and is verified against the newer fingerprint\n"
         "afterwards (exit status 3 when it, or a permission bit the patch carries, differs).\n"
         "Permission bits and modification times travel with the patch; setuid and setgid\n"
         "bits are set only with --keep-setuid. --dry-run reads the whole patch, hashes\n"
         "its stored contents and checks that they make the newer tree, and lists the changes.\n"
         "\n"
         "Trusted keys: the files --trusted-key names and every *.pub in\n"
         "/etc/ostmere/trusted-keys/ ($OSTMERE_SYSCONFDIR/trusted-keys/) and in\n"
         "$XDG_CONFIG_HOME/ostmere/trusted-keys/ (~/.config/ostmere/trusted-keys/). When any key\n"
         "is trusted, a patch not signed by one of them is refused before DIR is read;\n"
         "--allow-unsigned still accepts an unsigned one.",
         {"report", "dry-run", "continue-on-errors", "ignore-fingerprint", "keep-setuid",
          "trusted-key", "allow-unsigned"},
         runApply},
        {"query",
         {"PATCH", "REPORT"},
         "write the XML diff report of a patch",
         "Writes the XML diff report of an existing PATCH to REPORT ('-' for stdout). A patch\n"
         "not signed by a trusted key is refused as by apply.",
         {"trusted-key", "allow-unsigned"},
         runQuery},
        {"verify",
         {"PATCH"},
         "check the structure of a patch",
         "Checks the structure of PATCH (header, information block, paths, file records\n"
         "against the file table) and its signature, and prints what it holds; changes\n"
         "nothing. For a compact patch every record's digest is checked and every content\n"
         "that can be decoded without the target is decoded and checked against its content\n"
         "id. A patch not signed by a trusted key is refused as by apply.",
         {"trusted-key", "allow-unsigned"},
         runVerify},
        {"keygen",
         {"KEYFILE"},
         "make a key pair for signing patches",
         "Writes a new secret key to KEYFILE (mode 0600) and its public key to KEYFILE.pub, and\n"
         "prints the key id. Neither file may exist yet. Sign patches with 'diff --sign\n"
         "KEYFILE'; install KEYFILE.pub in /etc/ostmere/trusted-keys/ on the machines that\n"
         "apply them.",
         {},
         runKeygen},
    };
    return table;
}
