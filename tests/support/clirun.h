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
// The same, started through a launcher command that runs the program given after its own
// arguments (for example setpriv, to run it as another user).
CliRun runCliUnder(const std::vector<std::string>& launcher, const std::vector<std::string>& args,
                   const std::filesystem::path& scratch);

} // namespace testing_support
