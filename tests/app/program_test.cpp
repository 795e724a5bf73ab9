// The program's run around its window: one copy at a time, the tear-down
// after the event loop, and the crash boxes.
#include "app/program.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/single_instance.h"
#include "tests/support/run_program.h"
#include "tests/support/test_support.h"

namespace parlune::app {
namespace {

char programName[] = "parlune_program_test";
char* arguments[] = {programName, nullptr};

struct Recorded {
    std::vector<std::string> steps;
    std::vector<QString> boxes;
    bool windowMade = false;
};

ProgramParts recordingParts(Recorded& seen, const std::string& lockPath,
                            std::function<std::unique_ptr<QWidget>()> window) {
    ProgramParts parts;
    parts.lockPath = lockPath;
    parts.makeWindow = [&seen, window] {
        seen.windowMade = true;
        return window();
    };
    parts.showCrashBox = [&seen](const QString& title) { seen.boxes.push_back(title); };
    parts.waitForLiveChain = [&seen](int timeoutMs) {
        seen.steps.push_back("wait " + std::to_string(timeoutMs));
        return true;
    };
    parts.stopRouting = [&seen] { seen.steps.push_back("stop routing"); };
    return parts;
}

TEST(Program, ASecondCopyEndsAtOnceWithoutAWindow) {
    test::TempDir dir;
    const std::string lock = dir.file("parlune.lock");
    SingleInstance first(lock);
    ASSERT_TRUE(first.acquired());
    Recorded seen;
    int argc = 1;
    EXPECT_EQ(runProgram(argc, arguments,
                         recordingParts(seen, lock, [] { return std::make_unique<QWidget>(); })),
              0);
    EXPECT_FALSE(seen.windowMade);
    EXPECT_TRUE(seen.steps.empty());
}

TEST(Program, TheLoopsEndWaitsForTheLiveChainThenStopsTheRouting) {
    test::TempDir dir;
    Recorded seen;
    int argc = 1;
    const int code = runProgram(argc, arguments, recordingParts(seen, dir.file("parlune.lock"), [] {
                                    QTimer::singleShot(0, [] { QCoreApplication::exit(7); });
                                    return std::make_unique<QWidget>();
                                }));
    EXPECT_EQ(code, 7);
    EXPECT_TRUE(seen.windowMade);
    EXPECT_EQ(seen.steps, (std::vector<std::string>{"wait 1000", "stop routing"}));
    EXPECT_TRUE(seen.boxes.empty());
    // The lock went with the run: the next copy may start.
    EXPECT_TRUE(SingleInstance(dir.file("parlune.lock")).acquired());
}

TEST(Program, AnEscapingExceptionEndsInItsCrashBox) {
    struct Case {
        const char* what;
        std::function<void()> raise;
        QString title;
        std::vector<std::string> steps;
    };
    const Case cases[] = {
        {"a standard exception", [] { throw std::runtime_error("x"); }, "CRASH 3", {"wait 1000"}},
        {"a standard string", [] { throw std::string("x"); }, "CRASH 2", {"wait 1000"}},
        {"anything else", [] { throw 42; }, "CRASH", {"stop routing", "wait 1000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        Recorded seen;
        int argc = 1;
        const auto raise = c.raise;
        EXPECT_EQ(runProgram(argc, arguments,
                             recordingParts(seen, dir.file("parlune.lock"),
                                            [raise] {
                                                raise();
                                                return std::unique_ptr<QWidget>();
                                            })),
                  0);
        EXPECT_EQ(seen.boxes, std::vector<QString>{c.title});
        EXPECT_EQ(seen.steps, c.steps);
    }
}

// The built program itself: with the lock held, it ends at once with 0.
TEST(Program, TheProgramRefusesASecondCopy) {
    test::TempDir dir;
    SingleInstance first(dir.file("parlune.lock"));
    ASSERT_TRUE(first.acquired());
    const test::ProgramResult result =
        test::runProgram({std::string(PARLUNE_BIN_DIR) + "/parlune"},
                         {"XDG_RUNTIME_DIR=" + dir.path(), "QT_QPA_PLATFORM=offscreen"}, 10000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.output;
}

}  // namespace
}  // namespace parlune::app
