// Runs a program of the build with an argument list and collects its exit
// code and what it printed (standard output and error together).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace parlune::test {

struct ProgramResult {
    int exitCode = -1;
    std::string output;
};

// extraEnv entries are "NAME=value" and replace inherited ones of that name.
inline ProgramResult runProgram(const std::vector<std::string>& argv,
                                const std::vector<std::string>& extraEnv = {}) {
    ProgramResult result;
    char outPath[] = "/tmp/parlune-run-XXXXXX";
    const int fd = mkstemp(outPath);
    if (fd < 0) return result;

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& extra : extraEnv)
            if (extra.substr(0, extra.find('=')) == name) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    posix_spawn_file_actions_adddup2(&actions, fd, 2);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
    std::ifstream in(outPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    result.output = text.str();
    unlink(outPath);
    return result;
}

inline std::string binPath(const std::string& program) {
    return std::string(PARLUNE_BIN_DIR) + "/" + program;
}

}  // namespace parlune::test
