// The installed program against the private audio server.
#include "tests/packaging/install_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"

namespace fs = std::filesystem;
using parlune::test::InstalledTree;
using parlune::test::ProgramResult;

namespace {

// The installed program against the private audio server, as a person
// starts it: it copies the installed switcher into its data folder and runs
// it (PARLUNE-01 becomes the default playback device), and SIGTERM ends it
// the normal way, giving the speaker back.
TEST_F(InstalledTree, TheInstalledProgramRoutesThroughItsSwitcherAndGivesTheSpeakerBack) {
    PARLUNE_NEED_PULSE();
    parlune::pulse::PulseClient client("Parlune install test");
    ASSERT_TRUE(client.connected());
    const std::string speaker = client.defaultSinkName();
    ASSERT_NE(speaker, "parlune_01");
    // The program mutes other microphones and leaves PARLUNE-01 loaded; both
    // go back afterwards, so the server is as the other tests expect it.
    const bool deviceBefore = parlune::vdev::virtualDeviceStatus(client).sinkPresent;
    const std::vector<parlune::pulse::DeviceInfo> sourcesBefore = client.sources();

    parlune::test::TempDir home;
    const std::string data = home.file("share");
    const std::string runtime = home.file("run");
    ASSERT_TRUE(fs::create_directories(data) && fs::create_directories(runtime));
    parlune::test::BackgroundProgram program(
        {at("bin/parlune")},
        {{"XDG_DATA_HOME=" + data, "XDG_RUNTIME_DIR=" + runtime, "QT_QPA_PLATFORM=offscreen"}});
    ASSERT_TRUE(program.started());

    const std::string copied = data + "/Parlune/swaplane";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (client.defaultSinkName() != "parlune_01" && program.running() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const bool routed = client.defaultSinkName() == "parlune_01";
    const std::string copy = parlune::test::readFileBytes(copied);

    ASSERT_TRUE(program.signal(SIGTERM));
    const ProgramResult r = program.wait(20000);
    EXPECT_TRUE(routed) << r.output;
    EXPECT_FALSE(copy.empty());
    EXPECT_TRUE(copy == parlune::test::readFileBytes(at("libexec/parlune/swaplane")))
        << "the data folder's switcher is not the installed one";
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(client.defaultSinkName(), speaker) << r.output;

    if (client.defaultSinkName() != speaker) client.setDefaultSink(speaker);
    for (const auto& source : sourcesBefore) client.setSourceMute(source.name, source.muted);
    if (!deviceBefore) parlune::vdev::removeVirtualDevice(client);
}

}  // namespace
