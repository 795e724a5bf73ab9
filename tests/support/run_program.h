// Starting programs from tests: always an argument list, never a shell
// string, so paths with spaces or quotes need no care. The program's standard
// output and error are collected together in a temporary file.
//
// Thread contract: one thread uses a BackgroundProgram; runProgram may be
// called from any thread.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace parlune::test {

constexpr int kProgramTimeoutMs = 60000;

struct ProgramResult {
    int exitCode = -1;  // -1: not started, killed by a signal, or timed out
    bool timedOut = false;
    std::string output;  // standard output and error together
};

// How the program's environment is made: entries are "NAME=value".
struct ProgramEnvironment {
    std::vector<std::string> entries;
    bool inherit = true;  // true: the test's environment with `entries` replacing same names
};

// A program started at construction and left to run; the destructor kills it
// (SIGKILL) and reaps it when it is still running.
class BackgroundProgram {
public:
    explicit BackgroundProgram(const std::vector<std::string>& argv,
                               const ProgramEnvironment& environment = {});
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() const { return pid_ > 0 && !reaped_; }
    pid_t pid() const { return pid_; }
    // What the program has written so far (standard output and error).
    std::string outputSoFar() const;
    // Waits up to timeoutMs for `text` in the output; false when it did not
    // come or the program ended without it.
    bool waitForOutput(const std::string& text, int timeoutMs) const;
    bool signal(int signalNumber);
    // Waits for the exit up to timeoutMs, then kills the program. `meanwhile`
    // runs between the looks at the program (a test's event loop, so that a
    // service in the test answers the program); without it the wait sleeps.
    ProgramResult wait(int timeoutMs = kProgramTimeoutMs,
                       const std::function<void()>& meanwhile = {});
    // Kills the program at once and reaps it.
    ProgramResult kill();

private:
    ProgramResult finish(int status, bool timedOut);

    pid_t pid_ = 0;
    bool reaped_ = false;
    std::string outputPath_;
    std::string startError_;
};

// Runs a program to its end (or kills it after timeoutMs); `extraEnv` entries
// replace inherited ones of the same name.
ProgramResult runProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv = {},
                         int timeoutMs = kProgramTimeoutMs);

// A program of this build, in its bin folder.
std::string binPath(const std::string& program);

}  // namespace parlune::test
