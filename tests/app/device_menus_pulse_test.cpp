// The device menus of the real window on the private audio server, with the
// real routing, live chain and pass-through: a speaker plugged in after start
// is offered at the next press, choosing it rewrites config.ini and moves the
// pass-through's playback there, and an unplugged one is gone again.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/core/properties.h"
#include "app/main_window.h"
#include "assets/assets.h"
#include "engine/engine.h"
#include "platform/pulse/pulse_client.h"
#include "routing/routing.h"
#include "tests/support/test_support.h"

namespace parlune::app {
namespace {

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The sink the pass-through plays to, by server name; empty when it has no
// playback stream.
std::string passThroughSink(pulse::PulseClient& client) {
    const auto inputs = client.sinkInputs();
    const auto stream = std::find_if(inputs.begin(), inputs.end(), [](const pulse::StreamInfo& s) {
        return s.mediaName == "Wave playback";
    });
    if (stream == inputs.end()) return {};
    for (const auto& sink : client.sinks())
        if (sink.index == stream->deviceIndex) return sink.name;
    return {};
}

QStringList menuTexts(QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions()) texts << action->text();
    return texts;
}

void press(QPushButton* button) {
    const QPoint at(20, 10);
    QMouseEvent down(QEvent::MouseButtonPress, at, button->mapToGlobal(at), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &down);
}

TEST(DeviceMenusPulse, APluggedSpeakerIsOfferedChosenAndGone) {
    test::TempDir home;
    setenv("XDG_DATA_HOME", home.file("share").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("PARLUNE_AUDIO_BACKEND");
    int argc = 1;
    char name[] = "app_device_menus_pulse_test";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    assets::registerResources();
    pulse::PulseClient client("device menus test");
    ASSERT_TRUE(client.connected());
    const std::string speakerBefore = client.defaultSinkName();

    WindowServices services = WindowServices::system();
    services.messageBox = [](QMessageBox::Icon, const QString& title, const QString& text) {
        ADD_FAILURE() << title.toStdString() << ": " << text.toStdString();
    };
    services.openSoundControlPanel = [] {};
    {
        MainWindow window(services);
        window.show();
        ASSERT_TRUE(waitUntil([&] { return passThroughSink(client) == speakerBefore; }, 10000))
            << "the pass-through did not start towards " << speakerBefore;

        // A speaker plugged in after start, with a name beyond ASCII.
        const int64_t module =
            client.loadModule("module-null-sink",
                              "sink_name=parlune_test_phones sink_properties=device.description="
                              "\xc3\x89"
                              "couteurs");
        ASSERT_GE(module, 0);
        auto* output = window.findChild<QPushButton*>(QStringLiteral("OutputList"));
        auto* outputMenu = window.findChild<QMenu*>(QStringLiteral("outputMenu"));
        const QString phones = QStringLiteral("\u00c9couteurs");
        ASSERT_TRUE(waitUntil(
            [&] {
                press(output);
                return menuTexts(outputMenu).contains(phones);
            },
            3000))
            << menuTexts(outputMenu).join(", ").toStdString();
        EXPECT_EQ(menuTexts(outputMenu).first(), QStringLiteral("Output to Skype/VoIP App"));
        for (const QString& text : menuTexts(outputMenu))
            EXPECT_FALSE(text.contains(QLatin1String("Parlune"))) << text.toStdString();

        outputMenu->actions()[menuTexts(outputMenu).indexOf(phones)]->trigger();
        ASSERT_TRUE(waitUntil([&] { return !window.busy(); }, 10000));
        EXPECT_EQ(output->text(), phones);
        EXPECT_EQ(test::readFileBytes(home.file("share") + "/Parlune/config.ini"),
                  "\xc3\x89"
                  "couteurs");
        EXPECT_TRUE(
            waitUntil([&] { return passThroughSink(client) == "parlune_test_phones"; }, 5000))
            << "the pass-through plays to " << passThroughSink(client);

        ASSERT_TRUE(client.unloadModule(static_cast<uint32_t>(module)));
        EXPECT_TRUE(waitUntil(
            [&] {
                press(output);
                return !menuTexts(outputMenu).contains(phones);
            },
            3000));

        // The program's own tear-down.
        properties().set(prop::isRunning, false);
        window.waitForBackgroundSteps();
        EXPECT_TRUE(engine::waitForLiveChainIdle(2000));
        routing::stopQuibRestore();
    }
    EXPECT_EQ(client.defaultSinkName(), speakerBefore);
}

}  // namespace
}  // namespace parlune::app
