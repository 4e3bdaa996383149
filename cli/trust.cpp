#include "trust.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace ostmere;

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The user's configuration directory as desktop programs find it: XDG_CONFIG_HOME when it is
// absolute (a relative one is ignored), else ~/.config.
fs::path userConfigDirectory() {
    const std::string xdg = environment("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg[0] == '/')
        return fs::path(xdg) / "ostmere";
    const std::string home = environment("HOME");
    return home.empty() ? fs::path() : fs::path(home) / ".config" / "ostmere";
}

fs::path systemConfigDirectory() {
    const std::string dir = environment("OSTMERE_SYSCONFDIR");
    return dir.empty() ? fs::path("/etc/ostmere") : fs::path(dir);
}

// The "*.pub" files of a trusted-keys directory. One that cannot be reached trusts nothing (a
// HOME that the running user may not enter, as under sudo or setpriv, must not stop an apply);
// one that exists but cannot be listed is an error, since its keys would silently not apply.
void addKeyDirectory(const fs::path& configDir, std::vector<std::u16string>& files) {
    if (configDir.empty())
        return;
    const fs::path dir = configDir / "trusted-keys";
    std::error_code error;
    if (!fs::exists(dir, error))
        return;
    std::vector<std::string> found;
    fs::directory_iterator it(dir, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error))
        if (it->path().extension() == ".pub")
            found.push_back(it->path().string());
    if (error)
        throw std::runtime_error("cannot read the trusted keys in " + dir.string() + ": " +
                                 error.message());
    std::sort(found.begin(), found.end());
    for (const auto& f : found)
        files.push_back(utf8ToUtf16(f));
}

void note(const Invocation& args, ConsoleSink& sink, const std::string& line) {
    if (args.verbosity == Verbosity::quiet)
        return;
    sink.endDisplay();
    std::fprintf(stderr, "ostmere: notice: %s\n", line.c_str());
}

} // namespace

std::vector<std::u16string> trustedKeyFiles(const Invocation& args) {
    std::vector<std::u16string> files;
    for (const auto& file : args.all("trusted-key"))
        files.push_back(utf8ToUtf16(file));
    addKeyDirectory(systemConfigDirectory(), files);
    addKeyDirectory(userConfigDirectory(), files);
    return files;
}

SignatureStatus checkTrust(const Invocation& args, ConsoleSink& sink, const std::string& patch,
                           bool noteUnauthenticated) {
    if (patch.empty()) // the command's own check names what is missing
        return {};
    TrustOptions trust;
    trust.trustedKeyFiles = trustedKeyFiles(args);
    trust.allowUnsigned = args.flag("allow-unsigned");
    const SignatureStatus status = checkPatchSignature(&sink, utf8ToUtf16(patch), trust);
    if (!noteUnauthenticated || status.verified)
        return status;
    if (!trust.trustedKeyFiles.empty())
        note(args, sink,
             "the patch is not signed; accepted without authentication "
             "(--allow-unsigned)");
    else if (status.present)
        note(args, sink,
             "the patch is signed by key " + utf16ToUtf8(status.keyId) +
                 ", but no key is trusted: it was not authenticated");
    else
        note(args, sink,
             "the patch is not signed and no key is trusted: it was not "
             "authenticated");
    return status;
}
