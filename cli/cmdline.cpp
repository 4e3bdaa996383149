#include "cmdline.h"

#include <cstring>
#include <getopt.h>

namespace {

struct OptionSpec {
    const char* name;
    char shortName;      // 0 when it has none
    const char* operand; // the value's name; nullptr for a flag
    const char* help;
};

// Every option of every command, so that one getopt_long pass sees the whole command line;
// whether an option belongs to the command is checked once the command is known.
const std::vector<OptionSpec>& optionSpecs() {
    static const std::vector<OptionSpec> specs = {
        {"help", 'h', nullptr, "show this help and exit"},
        {"quiet", 'q', nullptr, "print nothing but errors (and a fingerprint asked for)"},
        {"verbose", 'v', nullptr, "print each stage, each file written and full error texts"},
        {"json", 0, nullptr, "print one JSON object with the outcome on stdout"},
        {"version", 0, nullptr, "print the version and exit"},
        {"jobs", 'j', "N", "read and hash files with N threads (default: one per core)"},
        {"filter", 0, "TEXT",
         "leave out entries matching TEXT: patterns separated by ';', '*' as wildcard"},
        {"report", 0, "FILE", "also write an XML diff report to FILE ('-' for stdout)"},
        {"update-vault", 0, nullptr, "rewrite VAULT to the state of NEWDIR afterwards"},
        {"compact", 0, nullptr,
         "write the compact format: files compressed, changed files as deltas when possible"},
        {"continue-on-errors", 0, nullptr,
         "skip items that cannot be removed, created or written (not recommended)"},
        {"ignore-fingerprint", 0, nullptr, "skip the fingerprint and stored-file checks (unsafe)"},
        {"keep-setuid", 0, nullptr, "also set the setuid and setgid bits the patch carries"},
        {"dry-run", 'n', nullptr,
         "check the target and the whole patch and list the changes; change nothing"},
        {"sign", 0, "KEYFILE", "sign the patch with the secret key in KEYFILE"},
        {"trusted-key", 0, "PUBFILE", "also trust the public key in PUBFILE (may be repeated)"},
        {"allow-unsigned", 0, nullptr, "accept an unsigned patch even though keys are trusted"},
    };
    return specs;
}

const std::vector<std::string> kGlobalOptions = {"help", "quiet", "verbose", "json", "jobs"};
constexpr unsigned kMaxJobs = 1024;

// A whole number from 1 to kMaxJobs, or 0 when the text is not one.
unsigned jobsFrom(const std::string& text) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != text.npos)
        return 0;
    const unsigned n = static_cast<unsigned>(std::stoul(text));
    return n <= kMaxJobs ? n : 0;
}

const OptionSpec* findSpec(const std::string& name) {
    for (const auto& s : optionSpecs())
        if (name == s.name)
            return &s;
    return nullptr;
}

bool appliesTo(const Command& c, const std::string& option) {
    for (const auto& o : kGlobalOptions)
        if (o == option)
            return true;
    for (const auto& o : c.options)
        if (o == option)
            return true;
    return false;
}

std::string optionLabel(const OptionSpec& s) {
    std::string label = s.shortName ? std::string("-") + s.shortName + ", " : "    ";
    label += std::string("--") + s.name;
    if (s.operand)
        label += std::string(" ") + s.operand;
    return label;
}

void printOptions(const std::vector<std::string>& names, FILE* out) {
    for (const auto& name : names) {
        const OptionSpec* s = findSpec(name);
        std::fprintf(out, "  %-26s %s\n", optionLabel(*s).c_str(), s->help);
    }
}

const char* kExitStatuses =
    "Exit status:\n"
    "  0    success\n"
    "  1    error (the reason on stderr, after \"ostmere:\")\n"
    "  2    usage error\n"
    "  3    patch applied, but the directory's new fingerprint does not match\n"
    "  4    the directory is not the tree the patch was made from (nothing changed)\n"
    "  130  cancelled (Ctrl-C or SIGTERM)\n";

const char* kProgressNote =
    "Progress is one line on stderr when it is a terminal (files, bytes, rate, time left);\n"
    "nothing on a pipe or with TERM=dumb unless --verbose. Options may come anywhere; '--'\n"
    "ends them.\n";

// Records one option found by getopt_long.
void takeOption(const OptionSpec& s, const char* value, ParseResult& r) {
    const std::string name = s.name;
    Invocation& in = r.invocation;
    if (name == "quiet")
        in.verbosity = Verbosity::quiet;
    else if (name == "verbose")
        in.verbosity = Verbosity::verbose;
    else if (name == "json")
        in.json = true;
    else if (s.operand) {
        in.values[name] = value;
        in.repeated[name].push_back(value);
    } else
        in.flags.insert(name);
}

std::string checkOperands(const Command& c, const std::vector<std::string>& operands) {
    const std::string name = c.name;
    if (operands.size() < c.operands.size())
        return "missing " + std::string(c.operands[operands.size()]) + " for '" + name +
               "': ostmere " + synopsis(c);
    if (operands.size() > c.operands.size())
        return "unexpected argument '" + operands[c.operands.size()] + "' for '" + name +
               "': ostmere " + synopsis(c);
    return "";
}

ParseResult usage(ParseResult r, std::string error) {
    r.action = ParseResult::usageError;
    r.error = std::move(error);
    return r;
}

} // namespace

std::string synopsis(const Command& c) {
    std::string text = c.name;
    for (const char* operand : c.operands)
        text += std::string(" ") + operand;
    for (const auto& name : c.options) {
        const OptionSpec* s = findSpec(name);
        text +=
            std::string(" [--") + s->name + (s->operand ? std::string(" ") + s->operand : "") + "]";
    }
    return text;
}

ParseResult parseCommandLine(int argc, char** argv) {
    std::vector<option> table;
    std::string shortOptions = ":"; // ':' first: a missing value is reported as ':'
    for (const auto& s : optionSpecs()) {
        table.push_back({s.name, s.operand ? required_argument : no_argument, nullptr, 0});
        if (s.shortName)
            shortOptions += s.operand ? std::string{s.shortName, ':'} : std::string{s.shortName};
    }
    table.push_back({nullptr, 0, nullptr, 0});

    ParseResult r;
    std::vector<std::string> used; // long names, in the order given
    opterr = 0;
    optind = 0; // also resets getopt's state, so that parsing can run more than once
    for (;;) {
        int index = -1;
        const int c = getopt_long(argc, argv, shortOptions.c_str(), table.data(), &index);
        if (c == -1)
            break;
        const char* word = argv[optind - 1];
        if (c == '?')
            return usage(r, optopt ? std::string("unknown option '-") + char(optopt) + "'"
                                   : "unknown option '" + std::string(word) + "'");
        if (c == ':')
            return usage(r, "option '" + std::string(word) + "' needs a value");
        const OptionSpec* option = nullptr;
        if (index >= 0)
            option = &optionSpecs()[index];
        else
            for (const auto& s : optionSpecs())
                if (s.shortName == c)
                    option = &s;
        used.push_back(option->name);
        takeOption(*option, optarg, r);
    }
    std::vector<std::string> words(argv + optind, argv + argc);

    Invocation& in = r.invocation;
    if (in.values.count("jobs") && !(in.jobs = jobsFrom(in.value("jobs"))))
        return usage(r, "option '--jobs' needs a whole number from 1 to " +
                            std::to_string(kMaxJobs) + ", not '" + in.value("jobs") + "'");
    const bool wantsHelp = in.flag("help");
    if (in.flag("version"))
        return r.action = ParseResult::version, r;
    if (words.empty()) {
        if (wantsHelp)
            return r.action = ParseResult::help, r;
        return usage(r, "no command given");
    }
    if (words[0] == "help") {
        r.action = ParseResult::help;
        if (words.size() > 1 && !(r.command = findCommand(words[1])))
            return usage(r, "unknown command '" + words[1] + "'");
        return r;
    }
    r.command = findCommand(words[0]);
    if (!r.command)
        return usage(r, "unknown command '" + words[0] + "'");
    in.command = words[0];
    if (wantsHelp)
        return r.action = ParseResult::help, r;
    for (const auto& name : used)
        if (!appliesTo(*r.command, name))
            return usage(r, "option '--" + name + "' does not apply to '" + in.command + "'");
    in.positional.assign(words.begin() + 1, words.end());
    std::string error = checkOperands(*r.command, in.positional);
    if (!error.empty())
        return usage(r, error);
    const bool reportToStdout =
        in.value("report") == "-" || (in.command == "query" && in.positional[1] == "-");
    if (in.json && reportToStdout)
        return usage(r, "--json and a report on stdout ('-') cannot share stdout");
    return r;
}

void printGeneralHelp(FILE* out) {
    std::fputs("Usage: ostmere [OPTIONS] COMMAND ARGUMENTS...\n"
               "       ostmere --version | --help | help COMMAND | COMMAND --help\n"
               "\n"
               "Keeps copies of a directory tree in step by shipping only what changed.\n"
               "\n"
               "Commands:\n",
               out);
    for (const auto& c : commands())
        std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
    std::fputs("\nOptions of every command:\n", out);
    printOptions(kGlobalOptions, out);
    printOptions({"version"}, out);
    std::fputs("\n", out);
    std::fputs(kProgressNote, out);
    std::fputs("\n", out);
    std::fputs(kExitStatuses, out);
}

void printCommandHelp(const Command& c, FILE* out) {
    std::fprintf(out, "Usage: ostmere %s\n\n%s\n", synopsis(c).c_str(), c.description);
    if (!c.options.empty()) {
        std::fputs("\nOptions:\n", out);
        printOptions(c.options, out);
    }
    std::fputs("\nOptions of every command:\n", out);
    printOptions(kGlobalOptions, out);
    std::fputs("\n", out);
    std::fputs(kExitStatuses, out);
}

const Command* findCommand(const std::string& name) {
    for (const auto& c : commands())
        if (name == c.name)
            return &c;
    return nullptr;
}
