// parlunectl against the window's remote control on a private bus: each
// command and what it leaves in the window, what it prints, and its exit
// codes when the program is not there, refuses, or the command is wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/remote_fixture.h"
#include "tests/support/run_program.h"

namespace parlune::app {
namespace {

class ParlunectlTest : public RemoteTest {
protected:
    // parlunectl on the private bus, the window answering while it runs.
    test::ProgramResult parlunectl(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {test::binPath("parlunectl")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        test::BackgroundProgram program(argv, {{bus_.environmentEntry()}, true});
        return program.wait(20000,
                            [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
    }
};

TEST_F(ParlunectlTest, EachCommandDrivesTheWindow) {
    writeNamedFavorites();
    WindowServices services = loggingServices();
    services.recordTickMs = 1000;
    openWindow(services);
    struct Case {
        std::vector<std::string> command;
        std::string prints;
        QVariantMap expected;
    };
    using M = QVariantMap;
    const Case cases[] = {
        {{"preset", "ROBOT"}, "", M{{"preset", "ROBOT"}, {"mode", "cartoon"}}},
        {{"preset", "alien"}, "", M{{"preset", "ALIEN"}}},
        {{"preset", "3"}, "", M{{"preset", "ALICE"}, {"mode", "human"}}},
        {{"favorite", "3"}, "", M{{"favorite", "Deep One"}, {"presetPosition", 0}}},
        {{"favorite", "chipmunk"}, "", M{{"favoritePosition", 5}, {"pitch", 1.5}}},
        {{"next-preset"}, "DAVID\n", M{{"presetPosition", 1}}},
        {{"previous-preset"}, "ALIEN\n", M{{"presetPosition", 8}}},
        {{"bypass", "on"}, "", M{{"bypass", true}}},
        {{"bypass", "off"}, "", M{{"bypass", false}}},
        {{"bypass", "toggle"}, "bypass on\n", M{{"bypass", true}}},
        {{"effect", "echo", "on"}, "", M{{"echo", true}}},
        {{"effect", "echo", "off"}, "", M{{"echo", false}}},
        {{"effect", "Reverb", "toggle"}, "reverb on\n", M{{"reverb", true}}},
        {{"effect", "tremolo", "toggle"}, "tremolo on\n", M{{"tremolo", true}}},
        {{"mode", "human"}, "", M{{"mode", "human"}}},
        {{"mode", "cartoon"}, "", M{{"mode", "cartoon"}}},
        {{"pad", "1.2", "-0.25"}, "", M{{"padX", 1.2}, {"padY", -0.25}, {"pitch", 1.2}}},
        {{"record", "start"}, "", M{{"recording", true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command[0] + (c.command.size() > 1 ? " " + c.command[1] : std::string()));
        ASSERT_TRUE(waitUntil([&] { return !window_->busy(); }));
        const test::ProgramResult r = parlunectl(c.command);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output, c.prints);
        const QVariantMap v = voice();
        for (auto it = c.expected.begin(); it != c.expected.end(); ++it)
            EXPECT_EQ(v.value(it.key()), it.value()) << it.key().toStdString();
        expectInStep(v);
    }

    // The voice as status prints it, the recording still running.
    ASSERT_TRUE(waitUntil([&] { return !window_->busy(); }));
    const test::ProgramResult status = parlunectl({"status"});
    EXPECT_EQ(status.exitCode, 0) << status.output;
    EXPECT_EQ(status.output,
              "mode: cartoon\n"
              "pitch: 1.2\n"
              "formant: -0.25\n"
              "pad: 1.2 -0.25\n"
              "preset: 8 ALIEN\n"
              "favorite: none\n"
              "bypass: on\n"
              "echo: off\n"
              "reverb: on\n"
              "chorus: off\n"
              "distortion: off\n"
              "tremolo: on\n"
              "recording: yes\n");
    const test::ProgramResult stop = parlunectl({"record", "stop"});
    EXPECT_EQ(stop.exitCode, 0) << stop.output;
    EXPECT_FALSE(voice().value(remote::key::recording).toBool());
    waitUntil([&] { return !window_->busy(); });
}

TEST_F(ParlunectlTest, ARefusalExitsWith1AndPrintsTheProgramsReason) {
    openWindow();
    struct Case {
        std::vector<std::string> command;
        std::string says;
    };
    const Case cases[] = {
        {{"preset", "ROBOTO"},
         "parlunectl: No preset is named \"ROBOTO\"; the presets are DAVID, JOHN, ALICE, EMILY, "
         "GOBLIN, MEERKAT, ROBOT, ALIEN\n"},
        {{"preset", "9"}, "parlunectl: There is no preset 9: the presets are 1 to 8"},
        {{"favorite", "-"}, "give the position instead"},
        {{"effect", "flanger", "on"}, "There is no effect \"flanger\""},
        {{"pad", "2", "1"}, "off the cartoon pad"},
    };
    const QVariantMap before = voice();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command[0] + " " + c.command[1]);
        const test::ProgramResult r = parlunectl(c.command);
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
    EXPECT_EQ(voice(), before);
}

TEST_F(ParlunectlTest, WithoutTheProgramItExitsWith3AndAWrongCommandWith2) {
    struct Case {
        const char* what;
        std::vector<std::string> command;
        std::string bus;  // the session bus the client is given
        int exitCode;
        std::string says;
    };
    const std::string privateBus = bus_.environmentEntry();
    const std::string noBus = "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/parlune-bus";
    const Case cases[] = {
        {"a bus without the program", {"status"}, privateBus, 3, "Parlune is not running"},
        {"a bus without the program", {"preset", "ROBOT"}, privateBus, 3, "Parlune is not running"},
        {"no session bus at all", {"bypass", "toggle"}, noBus, 3, "no session bus"},
        // Usage is judged before any bus is asked.
        {"no command", {}, noBus, 2, "give a command"},
        {"an unknown command", {"louder"}, noBus, 2, "unknown command"},
        {"a preset without a name", {"preset"}, noBus, 2, "give one name or position"},
        {"a switch state that is not one", {"bypass", "maybe"}, noBus, 2, "give on, off or toggle"},
        {"an effect without a state", {"effect", "echo"}, noBus, 2, "give an effect and on"},
        {"a mode that is not one", {"mode", "robot"}, noBus, 2, "give human or cartoon"},
        {"a pad point that is no number", {"pad", "1", "high"}, noBus, 2, "two numbers"},
        {"a record word that is not one", {"record", "pause"}, noBus, 2, "give start or stop"},
        {"status with arguments", {"status", "now"}, noBus, 2, "takes no arguments"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> argv = {test::binPath("parlunectl")};
        argv.insert(argv.end(), c.command.begin(), c.command.end());
        // No display either: the bus library would try to start a bus for it.
        const test::ProgramResult r = test::runProgram(argv, {c.bus, "DISPLAY="}, 20000);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }

    const test::ProgramResult help = test::runProgram({test::binPath("parlunectl"), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* part :
         {"parlunectl bypass toggle", "gsettings", "Custom Shortcuts", "bindsym"})
        EXPECT_NE(help.output.find(part), std::string::npos) << part;
}

}  // namespace
}  // namespace parlune::app
