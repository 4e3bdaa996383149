// ostmere: keeps copies of a directory tree in step by shipping only what changed.
#include "commands.h"
#include "ostmere_version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const char* kGeneralHelp = "Usage: ostmere [--quiet | --verbose] COMMAND ARGUMENTS...\n"
                           "       ostmere --version | --help | help COMMAND\n"
                           "\n"
                           "Commands:\n";

const char* kConventions =
    "\n"
    "Progress is shown on stderr as one line when stderr is a terminal; --verbose prints\n"
    "one line per stage (and each file extracted), --quiet prints nothing.\n"
    "Exit status: 0 success, 1 error, 2 usage error, 3 patch applied but the new\n"
    "fingerprint does not match, 130 cancelled (Ctrl-C or SIGTERM).\n";

void printGeneralHelp(FILE* out) {
    std::fputs(kGeneralHelp, out);
    for (const auto& c : commands())
        std::fprintf(out, "  %s\n", c.synopsis);
    std::fputs(kConventions, out);
}

void printCommandHelp(const Command& c) {
    std::printf("Usage: ostmere %s\n\n%s\n", c.synopsis, c.description);
    std::fputs(kConventions, stdout);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "ostmere: %s\nTry 'ostmere --help'.\n", message.c_str());
    return 2;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Parses the words after the command name; returns an error text or "".
std::string parse(const Command& c, int argc, char** argv, int from, Invocation& out) {
    bool optionsEnded = false;
    for (int i = from; i < argc; ++i) {
        std::string word = argv[i];
        if (optionsEnded || word.size() < 3 || word.compare(0, 2, "--") != 0) {
            if (word == "--") {
                optionsEnded = true;
                continue;
            }
            out.positional.push_back(word);
            continue;
        }
        std::string name = word.substr(2), value;
        size_t eq = name.find('=');
        bool hasValue = eq != std::string::npos;
        if (hasValue) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (contains(c.valueOptions, name)) {
            if (!hasValue) {
                if (i + 1 >= argc)
                    return "option --" + name + " needs a value";
                value = argv[++i];
            }
            out.values[name] = value;
        } else if (contains(c.flagOptions, name) && !hasValue) {
            out.flags[name] = true;
        } else {
            return "unknown option --" + name + " for '" + c.name + "'";
        }
    }
    if (out.positional.size() != c.positionalCount)
        return std::string("'") + c.name + "' takes " + std::to_string(c.positionalCount) +
               " arguments: " + c.synopsis;
    return "";
}

} // namespace

int main(int argc, char** argv) {
    Verbosity verbosity = Verbosity::normal;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        std::string word = argv[i];
        if (word == "--quiet" || word == "-q") {
            verbosity = Verbosity::quiet;
        } else if (word == "--verbose" || word == "-v") {
            verbosity = Verbosity::verbose;
        } else if (word == "--version") {
            std::printf("ostmere %s\n", OSTMERE_VERSION);
            return 0;
        } else if (word == "--help" || word == "-h") {
            printGeneralHelp(stdout);
            return 0;
        } else {
            return usageError("unknown option " + word);
        }
    }
    if (i >= argc) {
        printGeneralHelp(stderr);
        return 2;
    }
    std::string name = argv[i];
    if (name == "help") {
        if (i + 1 >= argc) {
            printGeneralHelp(stdout);
            return 0;
        }
        const Command* c = findCommand(argv[i + 1]);
        if (!c)
            return usageError(std::string("unknown command '") + argv[i + 1] + "'");
        printCommandHelp(*c);
        return 0;
    }
    const Command* command = findCommand(name);
    if (!command)
        return usageError("unknown command '" + name + "'");
    for (int k = i + 1; k < argc; ++k)
        if (!std::strcmp(argv[k], "--help")) {
            printCommandHelp(*command);
            return 0;
        }
    // Global options may also follow the command.
    Invocation args;
    std::vector<char*> rest;
    for (int k = i + 1; k < argc; ++k) {
        std::string word = argv[k];
        if (word == "--quiet")
            verbosity = Verbosity::quiet;
        else if (word == "--verbose")
            verbosity = Verbosity::verbose;
        else
            rest.push_back(argv[k]);
    }
    std::string error = parse(*command, static_cast<int>(rest.size()), rest.data(), 0, args);
    if (!error.empty())
        return usageError(error);

    ConsoleSink::installSignalHandlers();
    ConsoleSink sink(verbosity);
    try {
        return command->run(args, sink);
    } catch (const CTKErr& e) {
        sink.endDisplay();
        std::fprintf(stderr, "%s", utf16ToUtf8(e.toStr()).c_str());
    } catch (const COPCancel&) {
        sink.endDisplay();
        std::fprintf(stderr, "Cancelled\n");
        return 130;
    } catch (const CXmlError& e) {
        sink.endDisplay();
        std::fprintf(stderr, "XML error %08x: %s\n", e.code(),
                     e.description().empty() ? "(no description)"
                                             : utf16ToUtf8(e.description()).c_str());
    } catch (const std::exception& e) {
        sink.endDisplay();
        std::fprintf(stderr, "A general unknown error has occured. (%s)\n", e.what());
    }
    return 1;
}
