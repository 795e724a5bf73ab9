// The server watcher on the private audio server: a device loaded, and the
// server restarting, each reach the event loop's thread as changed().
#include "routing/server_watcher.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "platform/pulse/pulse_client.h"
#include "tests/support/test_support.h"

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

}  // namespace

TEST(ServerWatcher, ADeviceAndARestartEachBecomeChangedOnTheEventLoopsThread) {
    PARLUNE_NEED_PULSE();
    int argc = 1;
    char name[] = "server_watcher_pulse_test";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    parlune::routing::ServerWatcher watcher;
    int changes = 0;
    bool elsewhere = false;
    QObject::connect(&watcher, &parlune::routing::ServerWatcher::changed, [&] {
        ++changes;
        elsewhere |= QThread::currentThread() != application.thread();
    });

    parlune::pulse::PulseClient client("server watcher test");
    ASSERT_TRUE(client.connected());
    const int64_t module = client.loadModule("module-null-sink", "sink_name=watched_sink");
    ASSERT_GE(module, 0);
    EXPECT_TRUE(waitFor([&] { return changes > 0; }, 3000)) << "no change for a new sink";
    client.unloadModule(static_cast<uint32_t>(module));

    if (parlune::test::canRestartPrivateServer()) {
        waitFor([] { return false; }, 200);  // the unload's changes
        const int before = changes;
        ASSERT_TRUE(parlune::test::restartPrivateServer());
        EXPECT_TRUE(waitFor([&] { return changes > before; }, 3000)) << "no change for a restart";
    }
    EXPECT_FALSE(elsewhere);
}
