#include "clirun.h"

#include "testsupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

CliRun runCli(const std::vector<std::string>& args, const fs::path& scratch) {
    return runCliUnder({}, args, scratch);
}

CliRun runCliUnder(const std::vector<std::string>& wrapper, const std::vector<std::string>& args,
                   const fs::path& scratch) {
    const fs::path outPath = scratch / "stdout", errPath = scratch / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    for (const auto& w : wrapper)
        argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(const_cast<char*>(OSTMERE_CLI));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    CliRun run;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

} // namespace testing_support
