// The command line: the commands, their options, one parsing pass and the help texts.
#pragma once

#include "consolesink.h"

#include <map>
#include <set>
#include <string>
#include <vector>

struct Invocation {
    std::string command;
    std::vector<std::string> positional;
    std::map<std::string, std::string> values; // options that take a value (the last given)
    std::map<std::string, std::vector<std::string>> repeated; // ...every value, in order
    std::set<std::string> flags;                              // options without a value
    Verbosity verbosity = Verbosity::normal;
    bool json = false;
    unsigned jobs = 0; // --jobs; 0: one per core

    bool flag(const std::string& name) const { return flags.count(name) != 0; }
    std::string value(const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
    std::vector<std::string> all(const std::string& name) const {
        auto it = repeated.find(name);
        return it == repeated.end() ? std::vector<std::string>() : it->second;
    }
};

struct Command {
    const char* name;
    std::vector<const char*> operands; // "DIR", "PATCH"...
    const char* summary;               // one line for the command list
    const char* description;
    std::vector<std::string> options; // long names of the command's own options
    int (*run)(const Invocation& args, ConsoleSink& sink);
};

const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);

// What the words of the command line ask for.
struct ParseResult {
    enum Action { run, help, version, usageError } action = run;
    Invocation invocation;
    const Command* command = nullptr; // for run, and for help of one command
    std::string error;                // for usageError
};

ParseResult parseCommandLine(int argc, char** argv);

void printGeneralHelp(FILE* out);
void printCommandHelp(const Command& c, FILE* out);
// "apply DIR PATCH [--report FILE] ..."
std::string synopsis(const Command& c);

// Exit statuses.
constexpr int kExitOk = 0, kExitError = 1, kExitUsage = 2, kExitNewerMismatch = 3,
              kExitTargetMismatch = 4, kExitCancelled = 130;
