#include "tests/support/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace parlune::test {

namespace {

std::string nameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> makeEnvironment(const ProgramEnvironment& environment) {
    std::vector<std::string> env;
    if (environment.inherit) {
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const auto& extra : environment.entries)
                replaced |= nameOf(extra) == nameOf(entry);
            if (!replaced) env.push_back(entry);
        }
    }
    env.insert(env.end(), environment.entries.begin(), environment.entries.end());
    return env;
}

}  // namespace

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv,
                                     const ProgramEnvironment& environment) {
    if (argv.empty()) {
        startError_ = "no program given\n";
        return;
    }
    char outPath[] = "/tmp/parlune-run-XXXXXX";
    const int fd = mkstemp(outPath);
    if (fd < 0) {
        startError_ = "cannot make the output file\n";
        return;
    }
    outputPath_ = outPath;

    const std::vector<std::string> env = makeEnvironment(environment);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    posix_spawn_file_actions_adddup2(&actions, fd, 2);
    posix_spawn_file_actions_addclose(&actions, fd);
    // A name without a slash is looked up in PATH.
    const int error = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
    if (error != 0) {
        pid_ = 0;
        startError_ = "cannot start " + argv[0] + ": " + std::strerror(error) + "\n";
    }
}

BackgroundProgram::~BackgroundProgram() {
    if (running()) kill();
    if (!outputPath_.empty()) unlink(outputPath_.c_str());
}

bool BackgroundProgram::signal(int signalNumber) {
    return running() && ::kill(pid_, signalNumber) == 0;
}

ProgramResult BackgroundProgram::wait(int timeoutMs, const std::function<void()>& meanwhile) {
    if (!running()) return finish(-1, false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (true) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || done < 0) {
            reaped_ = true;
            return finish(done == pid_ ? status : -1, false);
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        if (meanwhile)
            meanwhile();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return finish(-1, true);
}

ProgramResult BackgroundProgram::kill() {
    if (!running()) return finish(-1, false);
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return finish(status, false);
}

std::string BackgroundProgram::outputSoFar() const {
    std::ifstream in(outputPath_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return startError_ + text.str();
}

bool BackgroundProgram::waitForOutput(const std::string& text, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (outputSoFar().find(text) != std::string::npos) return true;
        if (!running() || std::chrono::steady_clock::now() >= deadline) return false;
        // Ended? Asked without reaping, so wait() still gets the exit status.
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid_)
            return outputSoFar().find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

ProgramResult BackgroundProgram::finish(int status, bool timedOut) {
    ProgramResult result;
    result.timedOut = timedOut;
    if (reaped_ && !timedOut && status >= 0 && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    result.output = outputSoFar();
    return result;
}

ProgramResult runProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv, int timeoutMs) {
    BackgroundProgram program(argv, {extraEnv, true});
    return program.wait(timeoutMs);
}

std::string binPath(const std::string& program) {
    return std::string(PARLUNE_BIN_DIR) + "/" + program;
}

}  // namespace parlune::test
