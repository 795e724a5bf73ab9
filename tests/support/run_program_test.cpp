// The one way tests start programs: exit codes, output, environment, the
// timeout, and a program left running in the background.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>

#include "tests/support/run_program.h"

namespace parlune::test {
namespace {

TEST(RunProgram, ReportsExitCodeAndOutputOfAnArgumentList) {
    struct Case {
        std::vector<std::string> argv;
        int exitCode;
        std::string output;
    } cases[] = {
        {{"true"}, 0, ""},
        {{"false"}, 1, ""},
        {{"printf", "%s|%s", "two words", "it's"}, 0, "two words|it's"},  // no shell in between
        {{"ls", "/nonexistent-parlune-path"}, 2, "nonexistent-parlune-path"},  // standard error too
        {{"/nonexistent/program"}, -1, "cannot start /nonexistent/program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argv[0]);
        const ProgramResult result = runProgram(c.argv);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_FALSE(result.timedOut);
        EXPECT_NE(result.output.find(c.output), std::string::npos) << result.output;
    }
}

TEST(RunProgram, ExtraEnvironmentReplacesInheritedValues) {
    setenv("PARLUNE_RUN_TEST", "inherited", 1);
    EXPECT_EQ(runProgram({"printenv", "PARLUNE_RUN_TEST"}).output, "inherited\n");
    EXPECT_EQ(runProgram({"printenv", "PARLUNE_RUN_TEST"}, {"PARLUNE_RUN_TEST=given"}).output,
              "given\n");
    unsetenv("PARLUNE_RUN_TEST");

    BackgroundProgram alone({"/usr/bin/env"}, {{"ONLY=this"}, false});
    EXPECT_EQ(alone.wait().output, "ONLY=this\n");
}

TEST(RunProgram, AProgramPastItsTimeoutIsKilled) {
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult result = runProgram({"sleep", "30"}, {}, 200);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(BackgroundProgram, RunsUntilSignalledOrKilled) {
    BackgroundProgram stopped({"sleep", "30"});
    ASSERT_TRUE(stopped.started());
    EXPECT_TRUE(stopped.signal(SIGSTOP));
    EXPECT_TRUE(stopped.running());
    stopped.kill();  // a stopped program is killed too
    EXPECT_FALSE(stopped.running());
    EXPECT_FALSE(stopped.signal(SIGTERM));

    BackgroundProgram ended({"sleep", "30"});
    EXPECT_TRUE(ended.signal(SIGTERM));
    const ProgramResult result = ended.wait(5000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, -1);  // ended by a signal
}

// Waiting for a line of a running program: it comes while the program still
// runs; a program that ends without it ends the wait at once, and its exit
// status is still there for wait().
TEST(BackgroundProgram, WaitsForTextInTheOutputOfARunningProgram) {
    BackgroundProgram talker({"sh", "-c", "sleep 0.2; echo ready; exec sleep 30"});
    EXPECT_TRUE(talker.waitForOutput("ready", 10000));
    EXPECT_TRUE(talker.running());
    EXPECT_EQ(talker.outputSoFar(), "ready\n");

    BackgroundProgram quitter({"sh", "-c", "echo other; exit 3"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(quitter.waitForOutput("ready", 30000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    const ProgramResult result = quitter.wait(5000);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.output, "other\n");
}

}  // namespace
}  // namespace parlune::test
