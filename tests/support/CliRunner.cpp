#include "support/CliRunner.h"

#include "support/TestFiles.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

RunResult RunCli(
    const std::filesystem::path& folder, const std::vector<std::string>& arguments, const std::string& input)
{
    const std::string in = folder / ".stdin", out = folder / ".stdout", err = folder / ".stderr";
    WriteText(in, input);
    const std::string program = std::string(VEILMARK_BIN_DIR) + "/veilmark-cli";
    std::vector<char*> argv { const_cast<char*>(program.c_str()) };
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t child = 0;
    RunResult result;
    if (posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int wait = 0;
        rusage usage {};
        ::wait4(child, &wait, 0, &usage);
        result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
        result.peakMemoryKiB = usage.ru_maxrss;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = ReadText(out);
    result.err = ReadText(err);
    return result;
}
