// The command table of the ostmere program.
#pragma once

#include "consolesink.h"

#include <map>
#include <string>
#include <vector>

// Parsed command line of one command: positional arguments and --options.
struct Invocation {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values; // options that take a value
    std::map<std::string, bool> flags;         // options without a value
    bool flag(const std::string& name) const { return flags.count(name) != 0; }
    std::string value(const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
};

struct Command {
    const char* name;
    const char* synopsis;
    const char* description;
    std::vector<std::string> valueOptions;
    std::vector<std::string> flagOptions;
    size_t positionalCount;
    // Runs the command; returns the process exit code.
    int (*run)(const Invocation& args, ConsoleSink& sink);
};

const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);
