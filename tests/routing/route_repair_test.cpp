// The routing repair's rules with steps that only answer from a script: a
// check at each change, a repair at once when the device is missing and then
// on the timer until one succeeds, changes folded while a step runs, one log
// line each way, nothing after stop. No audio server.
#include "routing/route_repair.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

namespace routing = parlune::routing;
using routing::DeviceHealth;
using routing::RouteRepair;

namespace {

QStringList logged;
void collect(QtMsgType, const QMessageLogContext&, const QString& message) { logged << message; }

void waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The steps answer in turn from their scripts (the last answer repeats) and
// note when they ran. The runner runs the work at once and hands the `then`
// part to the event loop, as the window's step runner does from its thread;
// `holdWork` keeps a step in hand until released.
struct Script {
    std::deque<DeviceHealth> checks;
    std::deque<bool> repairs;
    std::vector<qint64> checkedAt, repairedAt;
    QElapsedTimer clock;
    bool holdWork = false;
    std::function<void()> held;

    RouteRepair::Steps steps() {
        RouteRepair::Steps s;
        s.check = [this] {
            checkedAt.push_back(clock.elapsed());
            const DeviceHealth h = checks.front();
            if (checks.size() > 1) checks.pop_front();
            return h;
        };
        s.repair = [this] {
            repairedAt.push_back(clock.elapsed());
            const bool ok = repairs.front();
            if (repairs.size() > 1) repairs.pop_front();
            return ok;
        };
        return s;
    }
    RouteRepair::Runner runner() {
        return [this](std::function<void()> work, std::function<void()> then) {
            auto step = [work, then] {
                work();
                QTimer::singleShot(0, then);
            };
            if (holdWork)
                held = step;
            else
                step();
        };
    }
};

class RouteRepairRules : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "route_repair_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }
    void SetUp() override {
        logged.clear();
        previous_ = qInstallMessageHandler(collect);
        script.clock.start();
    }
    void TearDown() override { qInstallMessageHandler(previous_); }

    QtMessageHandler previous_ = nullptr;
    Script script;
};

}  // namespace

TEST_F(RouteRepairRules, ALossIsRepairedAtOnceThenOnTheTimerUntilARepairSucceeds) {
    struct Case {
        const char* what;
        DeviceHealth found;
        std::deque<bool> repairs;
        const char* wentLine;
    } cases[] = {
        {"server gone, back on the third try",
         DeviceHealth::ServerGone,
         {false, false, true},
         "The audio server went away"},
        {"device unloaded, back at once", DeviceHealth::Missing, {true}, "PARLUNE-01 went away"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Script s;
        s.clock.start();
        s.checks = {c.found, DeviceHealth::Present};
        s.repairs = c.repairs;
        logged.clear();
        RouteRepair repair(s.runner(), s.steps());
        int lost = 0, repaired = 0;
        QObject::connect(&repair, &RouteRepair::lost, [&] { ++lost; });
        QObject::connect(&repair, &RouteRepair::repaired, [&] { ++repaired; });
        repair.serverChanged();
        waitFor([&] { return repaired > 0; }, 5000);

        EXPECT_EQ(lost, 1);
        EXPECT_EQ(repaired, 1);
        EXPECT_FALSE(repair.repairing());
        EXPECT_EQ(s.checkedAt.size(), 1u);
        ASSERT_EQ(s.repairedAt.size(), c.repairs.size());
        EXPECT_LT(s.repairedAt[0] - s.checkedAt[0], RouteRepair::kRetryMs / 2);
        // On the timer, which Qt's coarse timers may fire 5 % early.
        for (size_t i = 1; i < s.repairedAt.size(); ++i)
            EXPECT_GE(s.repairedAt[i] - s.repairedAt[i - 1], RouteRepair::kRetryMs * 9 / 10);
        ASSERT_EQ(logged.size(), 2) << logged.join(" | ").toStdString();
        EXPECT_TRUE(logged[0].startsWith(QLatin1String(c.wentLine))) << logged[0].toStdString();
        EXPECT_TRUE(logged[1].startsWith(QLatin1String("The audio server is back")))
            << logged[1].toStdString();
    }
}

TEST_F(RouteRepairRules, AChangeWithTheDeviceThereOnlyChecks) {
    script.checks = {DeviceHealth::Present};
    script.repairs = {true};
    RouteRepair repair(script.runner(), script.steps());
    repair.serverChanged();
    waitFor([&] { return false; }, 100);
    EXPECT_EQ(script.checkedAt.size(), 1u);
    EXPECT_TRUE(script.repairedAt.empty());
    EXPECT_TRUE(logged.isEmpty()) << logged.join(" | ").toStdString();
}

// A server coming back sends a burst of changes: while a check is in hand
// they become one more check, not one each.
TEST_F(RouteRepairRules, ChangesWhileAStepRunsBecomeOneMoreCheck) {
    script.checks = {DeviceHealth::Present};
    script.repairs = {true};
    script.holdWork = true;
    RouteRepair repair(script.runner(), script.steps());
    repair.serverChanged();
    for (int i = 0; i < 5; ++i) repair.serverChanged();
    ASSERT_TRUE(script.held);
    auto step = std::move(script.held);
    script.held = nullptr;
    script.holdWork = false;
    step();
    waitFor([&] { return false; }, 100);
    EXPECT_EQ(script.checkedAt.size(), 2u);
}

TEST_F(RouteRepairRules, NothingRunsAfterStopNotEvenAPendingRetry) {
    script.checks = {DeviceHealth::ServerGone};
    script.repairs = {false};
    RouteRepair repair(script.runner(), script.steps());
    repair.serverChanged();
    waitFor([&] { return !script.repairedAt.empty(); }, 1000);
    ASSERT_EQ(script.repairedAt.size(), 1u);  // the first try, at once
    repair.stop();
    repair.serverChanged();
    waitFor([&] { return false; }, RouteRepair::kRetryMs * 3);
    EXPECT_EQ(script.repairedAt.size(), 1u);
    EXPECT_EQ(script.checkedAt.size(), 1u);
}
