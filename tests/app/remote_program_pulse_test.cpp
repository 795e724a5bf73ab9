// The built program on the private audio server with a private session bus:
// it owns the remote control's name once its window is up, parlunectl drives
// it, it says there are no desktop hotkeys here, and the name goes with it.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tests/support/private_bus.h"
#include "tests/support/run_program.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace parlune::test {
namespace {

TEST(RemoteProgram, TheRunningProgramAnswersParlunectlUntilItEnds) {
    PARLUNE_NEED_PULSE();
    pulse::PulseClient client("Parlune remote program test");
    ASSERT_TRUE(client.connected());
    // The program routes and mutes as it starts; all goes back afterwards.
    const std::string speaker = client.defaultSinkName();
    const bool deviceBefore = vdev::virtualDeviceStatus(client).sinkPresent;
    const std::vector<pulse::DeviceInfo> sourcesBefore = client.sources();

    PrivateBus bus;
    ASSERT_TRUE(bus.ok()) << bus.log();
    TempDir home;
    const std::string data = home.file("share"), runtime = home.file("run");
    ASSERT_TRUE(fs::create_directories(data) && fs::create_directories(runtime));
    BackgroundProgram program({binPath("parlune")},
                              {{"XDG_DATA_HOME=" + data, "XDG_RUNTIME_DIR=" + runtime,
                                "QT_QPA_PLATFORM=offscreen", bus.environmentEntry()}});
    ASSERT_TRUE(program.started());
    const auto ctl = [&bus](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), binPath("parlunectl"));
        return runProgram(arguments, {bus.environmentEntry()}, 20000);
    };

    ProgramResult status;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        status = ctl({"status"});
    } while (status.exitCode == 3 && program.running() &&
             std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(status.exitCode, 0) << status.output;
    // The start point, as the window applies it.
    EXPECT_EQ(status.output.rfind("mode: cartoon\npitch: 1\nformant: 1.5\n", 0), 0u)
        << status.output;

    const ProgramResult preset = ctl({"preset", "robot"});
    EXPECT_EQ(preset.exitCode, 0) << preset.output;
    const ProgramResult bypass = ctl({"bypass", "toggle"});
    EXPECT_EQ(bypass.output, "bypass on\n");
    status = ctl({"status"});
    EXPECT_NE(status.output.find("pitch: 0.85\nformant: 2\n"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("preset: 7 ROBOT\n"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("bypass: on\n"), std::string::npos) << status.output;

    ASSERT_TRUE(program.signal(SIGTERM));
    const ProgramResult ended = program.wait(20000);
    EXPECT_EQ(ended.exitCode, 0) << ended.output;
    EXPECT_NE(ended.output.find("Remote control on the session bus as io.github.parlune.Parlune"),
              std::string::npos)
        << ended.output;
    EXPECT_NE(ended.output.find("Hotkeys: the desktop offers no global shortcuts"),
              std::string::npos)
        << ended.output;
    const ProgramResult after = ctl({"status"});
    EXPECT_EQ(after.exitCode, 3) << after.output;

    if (client.defaultSinkName() != speaker) client.setDefaultSink(speaker);
    for (const auto& source : sourcesBefore) client.setSourceMute(source.name, source.muted);
    if (!deviceBefore) vdev::removeVirtualDevice(client);
}

}  // namespace
}  // namespace parlune::test
