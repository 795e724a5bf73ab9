// The remote control on a private bus: each method as the click it stands
// for (properties, looks and the voice it reports agree after every call),
// the VoiceChanged signal, the refusals, and the name that cannot be taken.
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <limits>
#include <vector>

#include "tests/app/remote_fixture.h"

namespace parlune::app {
namespace {

// Collects the service's VoiceChanged signals as a client receives them.
class VoiceSignals : public QObject {
    Q_OBJECT
public:
    struct Seen {
        QVariantMap voice;
        QStringList changed;
    };
    QList<Seen> seen;

public slots:
    void voiceChanged(const QVariantMap& voice, const QStringList& changed) {
        seen << Seen{voice, changed};
    }
};

QVariant answerOf(const QDBusMessage& reply) {
    return reply.arguments().isEmpty() ? QVariant() : reply.arguments().first();
}

// The calls run in order on one window, each from where the one before left
// it; after each, the voice holds what it lists and the window agrees.
TEST_F(RemoteTest, EachCallActsAsItsClickAndTheWindowAgrees) {
    writeNamedFavorites();
    WindowServices services = loggingServices();
    services.recordTickMs = 1000;  // the recording must not end by itself here
    openWindow(services);
    const double kHumanFromCartoon2 = ui::cartoonToHumanY(2.0);
    struct Case {
        const char* what;
        const char* method;
        QVariantList arguments;
        QVariant answer;       // invalid: the method answers nothing
        QVariantMap expected;  // the keys of the voice that must hold these
    };
    using M = QVariantMap;
    std::vector<Case> cases = {
        {"a preset by name in any case",
         "ApplyPreset",
         {"robot"},
         {},
         M{{"mode", "cartoon"},
           {"pitch", 0.85},
           {"formant", 2.0},
           {"preset", "ROBOT"},
           {"presetPosition", 7},
           {"favoritePosition", 0}}},
        {"a preset by position",
         "ApplyPresetAt",
         {3},
         {},
         M{{"mode", "human"}, {"pitch", 1.4}, {"formant", 1.15}, {"preset", "ALICE"}}},
        {"a favorite by name in any case",
         "ApplyFavorite",
         {"deep ONE"},
         {},
         M{{"mode", "cartoon"},
           {"pitch", 0.85},
           {"formant", 2.2},
           {"favorite", "Deep One"},
           {"favoritePosition", 3},
           {"presetPosition", 0},
           {"preset", ""}}},
        {"a favorite by position",
         "ApplyFavoriteAt",
         {5},
         {},
         M{{"mode", "human"}, {"pitch", 1.5}, {"formant", 1.1}, {"favorite", "Chipmunk"}}},
        {"the next preset from none is the first",
         "NextPreset",
         {},
         "DAVID",
         M{{"presetPosition", 1}, {"favoritePosition", 0}}},
        {"the previous preset goes around the list",
         "PreviousPreset",
         {},
         "ALIEN",
         M{{"presetPosition", 8}, {"mode", "cartoon"}}},
        {"and the next one back", "NextPreset", {}, "DAVID", M{{"presetPosition", 1}}},
        {"the pad point inside the human range",
         "SetPad",
         {1.2, 1.1},
         {},
         M{{"padX", 1.2}, {"padY", 1.1}, {"pitch", 1.2}, {"formant", 1.1}, {"presetPosition", 1}}},
        {"cartoon keeps the point's relative height",
         "SetMode",
         {"cartoon"},
         {},
         M{{"mode", "cartoon"}, {"padY", ui::humanToCartoonY(1.1)}}},
        {"the pad point inside the cartoon range",
         "SetPad",
         {0.5, 2.0},
         {},
         M{{"padX", 0.5}, {"pitch", 0.75}, {"formant", 2.0}}},
        {"human in any case",
         "SetMode",
         {"HUMAN"},
         {},
         M{{"mode", "human"}, {"formant", kHumanFromCartoon2}}},
        {"the morph switch to NORMAL", "SetBypass", {true}, {}, M{{"bypass", true}}},
        {"bypass again changes nothing", "SetBypass", {true}, {}, M{{"bypass", true}}},
        {"toggled back to PARLUNE", "ToggleBypass", {}, false, M{{"bypass", false}}},
    };
    for (const char* effect : remote::kEffects) {
        cases.push_back({"an effect on", "SetEffect", {effect, true}, {}, M{{effect, true}}});
        cases.push_back({"an effect toggled, its name in any case",
                         "ToggleEffect",
                         {QString::fromLatin1(effect).toUpper()},
                         false,
                         M{{effect, false}}});
        cases.push_back(
            {"and toggled on again", "ToggleEffect", {effect}, true, M{{effect, true}}});
    }
    cases.push_back({"a recording starts", "StartRecording", {}, {}, M{{"recording", true}}});
    cases.push_back(
        {"a second start changes nothing", "StartRecording", {}, {}, M{{"recording", true}}});
    cases.push_back({"and it stops", "StopRecording", {}, {}, M{{"recording", false}}});

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " (" + c.method + ")");
        const QDBusMessage reply = call(c.method, c.arguments);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        if (c.answer.isValid()) {
            EXPECT_EQ(answerOf(reply), c.answer);
        }
        // A call returns once its click is made; the steps the click started
        // run on (a recording's end gives the morph back after converting),
        // and the record button takes no click before they are done.
        ASSERT_TRUE(waitUntil([&] { return !window_->busy(); }));
        const QVariantMap v = voice();
        for (auto it = c.expected.begin(); it != c.expected.end(); ++it) {
            if (it.value().userType() == QMetaType::Double)
                EXPECT_NEAR(v.value(it.key()).toDouble(), it.value().toDouble(), 1e-12)
                    << it.key().toStdString();
            else
                EXPECT_EQ(v.value(it.key()), it.value()) << it.key().toStdString();
        }
        expectInStep(v);
    }
    EXPECT_EQ(widget<QPushButton>("recordButton")->text(), QString());
}

TEST_F(RemoteTest, TheRecordingsButtonsStateShowsWhileItRuns) {
    WindowServices services = loggingServices();
    services.recordTickMs = 1000;
    openWindow(services);
    ASSERT_EQ(call("StartRecording").type(), QDBusMessage::ReplyMessage);
    // As a click on it: the countdown, the plain voice taken, play waiting.
    EXPECT_EQ(widget<QPushButton>("recordButton")->text(), QStringLiteral("30"));
    EXPECT_TRUE(properties().get(prop::isDspBipassed));
    EXPECT_FALSE(voice().value(remote::key::bypass).toBool());
    EXPECT_FALSE(widget<QPushButton>("playButton")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !window_->busy(); }));
    ASSERT_EQ(call("StopRecording").type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(waitUntil([&] { return !window_->busy(); }));
    EXPECT_FALSE(properties().get(prop::isDspBipassed));
    const QStringList log = takeLog().filter(QRegularExpression("^hook: (stop|start)"));
    EXPECT_EQ(log, (QStringList{"hook: stopQuib", "hook: startRecordQuib", "hook: stopRecordQuib",
                                "hook: startQuib", "hook: startLiveChain isRunning=1"}));
}

TEST_F(RemoteTest, VoiceChangedTellsOfEveryChangeOnceWhateverMadeIt) {
    openWindow();
    VoiceSignals heard;
    ASSERT_TRUE(client_.connect(QLatin1String(remote::kService), QLatin1String(remote::kPath),
                                QLatin1String(remote::kInterface), QStringLiteral("VoiceChanged"),
                                &heard, SLOT(voiceChanged(QVariantMap, QStringList))));
    voice();  // the bus has the match rule before anything changes
    const auto settle = [] { waitUntil([] { return false; }, 100); };
    const auto expectOne = [&](const QStringList& changed, const char* what) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(waitUntil([&] { return !heard.seen.isEmpty(); }));
        settle();
        ASSERT_EQ(heard.seen.size(), 1);
        QStringList got = heard.seen.first().changed;
        got.sort();
        QStringList want = changed;
        want.sort();
        EXPECT_EQ(got, want);
        EXPECT_EQ(heard.seen.first().voice, voice());
        heard.seen.clear();
    };

    // A call: the cartoon start point to ROBOT, cartoon too.
    call("ApplyPreset", {"ROBOT"});
    expectOne({"pitch", "formant", "padX", "padY", "preset", "presetPosition"}, "a preset by call");
    // Clicks in the window.
    widget<QPushButton>("echoButton")->click();
    expectOne({"echo"}, "the echo button clicked");
    widget<QPushButton>("toggleHuman")->click();
    expectOne({"mode", "padY", "formant"}, "the HUMAN button clicked");
    widget<QPushButton>("dspButton")->click();
    expectOne({"bypass"}, "the morph switch clicked");
    // A double click on a favorite: the preset loses its applied look.
    child<QRadioButton>(*window_, "favoritesTab")->setChecked(true);
    QAbstractButton* favorite = slotButtons("favoriteSlots")[1];
    favorite->setChecked(true);
    const QPoint at(20, 10);
    QMouseEvent press(QEvent::MouseButtonDblClick, at, favorite->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(favorite, &press);
    expectOne({"pitch", "padY", "formant", "favorite", "favoritePosition", "preset",
               "presetPosition", "padX"},
              "a favorite double-clicked");

    // A call that changes nothing sends nothing.
    call("SetEffect", {"echo", true});
    call("SetMode", {"human"});
    settle();
    EXPECT_TRUE(heard.seen.isEmpty());
}

TEST_F(RemoteTest, ARecordingThatEndsByItselfIsTold) {
    openWindow();  // the countdown ticks every millisecond
    VoiceSignals heard;
    ASSERT_TRUE(client_.connect(QLatin1String(remote::kService), QLatin1String(remote::kPath),
                                QLatin1String(remote::kInterface), QStringLiteral("VoiceChanged"),
                                &heard, SLOT(voiceChanged(QVariantMap, QStringList))));
    voice();
    widget<QPushButton>("recordButton")->click();
    ASSERT_TRUE(waitUntil([&] { return heard.seen.size() >= 2 && !window_->busy(); }));
    EXPECT_EQ(heard.seen[0].changed, QStringList{"recording"});
    EXPECT_TRUE(heard.seen[0].voice.value(remote::key::recording).toBool());
    EXPECT_EQ(heard.seen[1].changed, QStringList{"recording"});
    EXPECT_FALSE(heard.seen[1].voice.value(remote::key::recording).toBool());
}

TEST_F(RemoteTest, WrongArgumentsAreRefusedWithTheReasonAndChangeNothing) {
    openWindow();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* method;
        QVariantList arguments;
        const char* error;
        QStringList says;
    };
    const char* invalid = remote::kErrorInvalidArgs;
    const QStringList allPresets = {"DAVID",  "JOHN",    "ALICE", "EMILY",
                                    "GOBLIN", "MEERKAT", "ROBOT", "ALIEN"};
    const Case cases[] = {
        {"ApplyPreset", {"ROBOTO"}, invalid, QStringList{"\"ROBOTO\""} + allPresets},
        {"ApplyPreset", {""}, invalid, {"No preset is named \"\""}},
        {"ApplyPresetAt", {0}, invalid, {"no preset 0", "1 to 8"}},
        {"ApplyPresetAt", {9}, invalid, {"no preset 9", "1 to 8"}},
        {"ApplyFavorite", {"-"}, invalid, {"8 favorites are named \"-\"", "1, 2, 3", "position"}},
        {"ApplyFavorite", {"nobody"}, invalid, {"\"nobody\"", "1 \"-\"", "8 \"-\""}},
        {"ApplyFavoriteAt", {-1}, invalid, {"no favorite -1", "1 to 8"}},
        {"ApplyFavoriteAt", {9}, invalid, {"no favorite 9"}},
        {"SetPad", {nan, 1.0}, invalid, {"off the cartoon pad", "x goes from 0.3 to 1.7"}},
        {"SetPad", {1.0, inf}, invalid, {"off the cartoon pad"}},
        {"SetPad", {1.71, 1.0}, invalid, {"(1.71, 1)", "y from -0.5 to 2.5"}},
        {"SetPad", {0.29, 1.0}, invalid, {"off the cartoon pad"}},
        {"SetPad", {1.0, 2.51}, invalid, {"off the cartoon pad"}},
        {"SetPad", {1.0, -0.51}, invalid, {"off the cartoon pad"}},
        {"SetMode", {"robot"}, invalid, {"\"robot\"", "human and cartoon"}},
        {"SetEffect",
         {"flanger", true},
         invalid,
         {"\"flanger\"", "echo, reverb, chorus, distortion, tremolo"}},
        {"ToggleEffect", {""}, invalid, {"no effect \"\""}},
        // Arguments of the wrong type never reach the window.
        {"ApplyPresetAt", {"3"}, "org.freedesktop.DBus.Error.UnknownMethod", {}},
        {"SetPad", {1.0}, "org.freedesktop.DBus.Error.UnknownMethod", {}},
        {"NoSuchMethod", {}, "org.freedesktop.DBus.Error.UnknownMethod", {}},
    };
    const QVariantMap before = voice();
    for (const Case& c : cases) {
        SCOPED_TRACE(
            std::string(c.method) + " " +
            (c.arguments.isEmpty() ? std::string() : c.arguments.first().toString().toStdString()));
        const QDBusMessage reply = call(c.method, c.arguments);
        ASSERT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(reply.errorName(), QLatin1String(c.error));
        for (const QString& part : c.says)
            EXPECT_TRUE(reply.errorMessage().contains(part)) << reply.errorMessage().toStdString();
    }
    EXPECT_EQ(voice(), before);
    expectInStep(before);

    // The human pad's range is the one a point is held to there.
    call("SetMode", {"human"});
    const QDBusMessage reply = call("SetPad", {1.0, 1.5});
    EXPECT_EQ(reply.errorName(), QLatin1String(invalid));
    EXPECT_TRUE(
        reply.errorMessage().contains("off the human pad: x goes from 0.3 to 1.7, y from 0.8 "
                                      "to 1.2"))
        << reply.errorMessage().toStdString();
}

TEST_F(RemoteTest, RecordingCallsWaitForTheRecordButtonAsAClickWould) {
    std::atomic<bool> release{false};
    WindowServices services = loggingServices();
    services.recordTickMs = 1000;
    services.startRecordQuib = [&release] {
        while (!release) QThread::msleep(2);
    };
    openWindow(services);
    EXPECT_EQ(call("StopRecording").type(), QDBusMessage::ReplyMessage);  // idle: nothing to stop
    ASSERT_EQ(call("StartRecording").type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(window_->busy());
    // The start's steps run: the button takes no click, nor does the call.
    const QDBusMessage refused = call("StopRecording");
    EXPECT_EQ(refused.errorName(), QLatin1String(remote::kErrorBusy));
    EXPECT_TRUE(refused.errorMessage().contains("try again"))
        << refused.errorMessage().toStdString();
    EXPECT_TRUE(voice().value(remote::key::recording).toBool());
    release = true;
    ASSERT_TRUE(waitUntil([&] { return !window_->busy(); }));
    EXPECT_EQ(call("StopRecording").type(), QDBusMessage::ReplyMessage);
    EXPECT_FALSE(voice().value(remote::key::recording).toBool());
    waitUntil([&] { return !window_->busy(); });
}

TEST_F(RemoteTest, TheNameIsNeverTakenOver) {
    openWindow();
    QDBusConnectionInterface* bus = client_.interface();
    const QString name = QLatin1String(remote::kService);
    ASSERT_EQ(bus->serviceOwner(name).value(), service_.baseService());

    // Another program asking to replace the owner is refused.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> replace =
        bus->registerService(name, QDBusConnectionInterface::ReplaceExistingService,
                             QDBusConnectionInterface::DontAllowReplacement);
    EXPECT_TRUE(replace.isValid());
    EXPECT_EQ(replace.value(), QDBusConnectionInterface::ServiceNotRegistered);

    // A second remote control (a second copy of the program that got this
    // far) stays off and says so, and the first keeps the name.
    MainWindow second(loggingServices());
    takeLog();
    EXPECT_EQ(RemoteControl::start(second, client_), nullptr);
    const QStringList log = takeLog().filter(QStringLiteral("Remote control"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(
        log[0],
        QStringLiteral("Remote control off: %1 belongs to %2").arg(name, service_.baseService()));
    EXPECT_EQ(client_.objectRegisteredAt(QLatin1String(remote::kPath)), nullptr);
    EXPECT_EQ(bus->serviceOwner(name).value(), service_.baseService());
    EXPECT_EQ(call("ApplyPreset", {"GOBLIN"}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(voice().value(remote::key::preset), QStringLiteral("GOBLIN"));

    // The name goes with the window.
    window_.reset();
    EXPECT_FALSE(bus->isServiceRegistered(name).value());
}

TEST_F(RemoteTest, WithoutASessionBusTheProgramRunsAndSaysSoOnce) {
    // Nothing listens there: the process's session bus cannot be had.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/parlune-bus", 1);
    unsetenv("DISPLAY");
    MainWindow window(loggingServices());
    takeLog();
    startRemoteControl(window);
    QStringList log = takeLog();
    ASSERT_EQ(log.filter(QRegularExpression("[Rr]emote|[Hh]otkey")).size(), 1)
        << log.join('\n').toStdString();
    EXPECT_TRUE(log.filter(QRegularExpression("[Rr]emote|[Hh]otkey"))
                    .first()
                    .startsWith(QStringLiteral("Remote control and hotkeys off: no session bus")));
    EXPECT_EQ(window.findChild<RemoteControl*>(), nullptr);
    // The window works as before.
    window.applyPreset(6);
    EXPECT_EQ(properties().get(prop::pitch), 0.85);

    QDBusConnection none(QStringLiteral("never connected"));
    takeLog();
    EXPECT_EQ(RemoteControl::start(window, none), nullptr);
    log = takeLog();
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("Remote control off: no session bus")));
}

}  // namespace
}  // namespace parlune::app

#include "remote_control_test.moc"
