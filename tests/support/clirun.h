// Running the ostmere program the way a script does.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct CliRun {
    int status = -1; // exit status, or 1000 + the signal that ended the program
    std::string out, err;
};

// Runs the program with stdin from /dev/null and stdout, stderr into files below scratch
// (not terminals).
CliRun runCli(const std::vector<std::string>& args, const std::filesystem::path& scratch);
// The same under another program that then runs it (for example setpriv with its options).
CliRun runCliUnder(const std::vector<std::string>& wrapper, const std::vector<std::string>& args,
                   const std::filesystem::path& scratch);

} // namespace testing_support
