// ostmere: keeps copies of a directory tree in step by shipping only what changed.
#include "commands.h"
#include "messages.h"
#include "ostmere_version.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

int usageError(const std::string& message) {
    std::fprintf(stderr, "ostmere: %s\nTry 'ostmere --help'.\n", message.c_str());
    return kExitUsage;
}

// The error line on stderr, and for --json the same as one object on stdout.
int fail(const Invocation& args, ConsoleSink& sink, const std::string& message, int status) {
    sink.endDisplay();
    std::fprintf(stderr, "ostmere: %s\n", message.c_str());
    if (args.json) {
        JsonObject j;
        j.add("command", args.command).add("error", message).add("exitStatus", status);
        std::printf("%s\n", j.text().c_str());
    }
    return status;
}

int run(const Invocation& args, const Command& command) {
    ConsoleSink::installSignalHandlers();
    std::unique_ptr<ConsoleSink> owned = ConsoleSink::make(args.verbosity);
    ConsoleSink& sink = *owned;
    sink.setHashJobs(args.jobs);
    try {
        return command.run(args, sink);
    } catch (const CTKErr& e) {
        const int status = e.kind == eKindTargetMismatch ? kExitTargetMismatch : kExitError;
        fail(args, sink, errorLine(e), status);
        if (args.verbosity == Verbosity::verbose)
            std::fprintf(stderr, "%s", utf16ToUtf8(e.toStr()).c_str());
        return status;
    } catch (const COPCancel&) {
        return fail(args, sink, "cancelled", kExitCancelled);
    } catch (const CXmlError& e) {
        return fail(args, sink, "XML error: " + nativeText(e.description()), kExitError);
    } catch (const std::exception& e) {
        return fail(args, sink, e.what(), kExitError);
    }
}

} // namespace

int main(int argc, char** argv) {
    // Display widths of names need a UTF-8 character type; the C locale would count bytes.
    if (!std::setlocale(LC_CTYPE, "") || MB_CUR_MAX == 1)
        std::setlocale(LC_CTYPE, "C.UTF-8");
    const ParseResult parsed = parseCommandLine(argc, argv);
    switch (parsed.action) {
    case ParseResult::usageError:
        return usageError(parsed.error);
    case ParseResult::version:
        std::printf("ostmere %s\n", OSTMERE_VERSION);
        return kExitOk;
    case ParseResult::help:
        if (parsed.command)
            printCommandHelp(*parsed.command, stdout);
        else
            printGeneralHelp(stdout);
        return kExitOk;
    case ParseResult::run:
        break;
    }
    return run(parsed.invocation, *parsed.command);
}
