// The routing steps against the private audio server, with the real switcher
// (copied into a data folder whose path has spaces) and the real Looptap.
#include "routing/routing.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <filesystem>
#include <fstream>

#include "app/core/data_files.h"
#include "app/core/playdev_file.h"
#include "app/core/properties.h"
#include "companions/capwell.h"
#include "looptap/looptap.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
namespace pp = parlune::pulse;
namespace routing = parlune::routing;

namespace {

struct StreamsSnapshot {
    std::vector<uint32_t> sinkInputs, sourceOutputs;
    bool operator==(const StreamsSnapshot& o) const {
        return sinkInputs == o.sinkInputs && sourceOutputs == o.sourceOutputs;
    }
};

class Routing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "routing_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
        // As the program does: the real pass-through and recorder.
        routing::setPassThrough({&StartPlaying, &StopPlaying});
        routing::setRecorder({&set_recorded_filename, &start_record, &stop_record});
    }

    void SetUp() override {
        char pattern[] = "/tmp/parlune routing XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directories(root + "/run");
        fs::permissions(root + "/run", fs::perms::owner_all);
        setenv("XDG_DATA_HOME", (root + "/share").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
        ASSERT_TRUE(parlune::data::prepareDataFolder(PARLUNE_BIN_DIR));
        parlune::data::writeConfigIni(parlune::data::configIniPath(), "Headphones");
        parlune::app::properties().set(parlune::app::prop::applicationPath,
                                       QString::fromStdString(parlune::data::dataFolder()));
        if (!client.connected()) return;
        originalDefault = client.defaultSinkName();
        parlune::vdev::removeVirtualDevice(client);  // the routing must provide it
    }

    void TearDown() override {
        if (routing::isPlaying()) routing::stopQuibRestore();
        if (client.connected()) {
            client.setDefaultSink(originalDefault);
            parlune::vdev::removeVirtualDevice(client);
        }
        fs::remove_all(root);
    }

    StreamsSnapshot streams() {
        StreamsSnapshot s;
        // Streams of modules (the virtual microphone reads its sink's monitor)
        // belong to the device, not to the pass-through.
        for (const auto& i : client.sinkInputs())
            if (i.ownerModule == UINT32_MAX) s.sinkInputs.push_back(i.index);
        for (const auto& o : client.sourceOutputs())
            if (o.ownerModule == UINT32_MAX) s.sourceOutputs.push_back(o.index);
        return s;
    }
    std::string describeStreams() {
        std::string out;
        for (const auto& i : client.sinkInputs())
            out += "[sink input " + i.applicationName + " / " + i.mediaName + "] ";
        for (const auto& o : client.sourceOutputs())
            out += "[source output " + o.applicationName + " / " + o.mediaName + "] ";
        return out;
    }
    uint32_t sourceIndex(const std::string& name) {
        for (const auto& s : client.sources())
            if (s.name == name) return s.index;
        return UINT32_MAX;
    }
    void writePlayDevNamingTheVirtualDevice() {
        std::ofstream out(parlune::data::playDevIniPath(), std::ios::binary);
        for (char c : std::string("PARLUNE-01 (Parlune Virtual Audio)\nsink=parlune_01\n"))
            out.put(c).put('\0');
    }

    pp::PulseClient client{"Parlune routing test"};
    std::string root;
    std::string originalDefault;
};

}  // namespace

TEST_F(Routing, StartThenStopLeavesTheServerAsItWas) {
    PARLUNE_NEED_PULSE();
    ASSERT_EQ(originalDefault, "speaker");
    const StreamsSnapshot before = streams();
    EXPECT_FALSE(routing::isQuibDefault());

    routing::startQuibDefault();
    EXPECT_TRUE(routing::isPlaying());
    EXPECT_EQ(client.defaultSinkName(), "parlune_01");
    EXPECT_TRUE(routing::isQuibDefault());
    EXPECT_EQ(routing::defaultDeviceName(), parlune::vdev::kSinkDescription);
    const uint32_t virtualMic = sourceIndex(parlune::vdev::kSourceName);
    bool looptapCaptures = false;
    for (const auto& o : client.sourceOutputs()) looptapCaptures |= o.deviceIndex == virtualMic;
    EXPECT_TRUE(looptapCaptures) << "the pass-through does not read the virtual microphone";

    routing::startQuibDefault();  // again: no second pass-through
    EXPECT_EQ(client.defaultSinkName(), "parlune_01");

    routing::stopQuibRestore();
    EXPECT_FALSE(routing::isPlaying());
    EXPECT_EQ(client.defaultSinkName(), "speaker");
    EXPECT_TRUE(streams() == before)
        << "streams of the pass-through are left behind: " << describeStreams();

    routing::stopQuibRestore();  // twice: only the restore runs again
    EXPECT_EQ(client.defaultSinkName(), "speaker");
}

TEST_F(Routing, RecordingPausesThePassThroughAndWritesTheSample) {
    PARLUNE_NEED_PULSE();
    routing::startQuibDefault();
    routing::stopQuib();
    EXPECT_TRUE(routing::isPlaying());
    routing::startRecordQuib();
    auto play = pp::Stream::open(pp::StreamDirection::Playback, "parlune_01", 44100, 1, {50, 0},
                                 "routing test voice");
    ASSERT_TRUE(play);
    const auto tone = parlune::test::sine(22050, 330.0, 44100);
    ASSERT_TRUE(play->write(tone.data(), tone.size()));
    play->drain();
    routing::stopRecordQuib();
    const auto wav = parlune::test::readWav(parlune::data::dataFolder() + "/media/recorded.wav");
    EXPECT_FALSE(wav.samples.empty());
    routing::startQuib();
    routing::stopQuibRestore();
    EXPECT_FALSE(routing::isPlaying());
    EXPECT_EQ(client.defaultSinkName(), "speaker");
}

TEST_F(Routing, StartupCheckRestoresALeftoverDefault) {
    PARLUNE_NEED_PULSE();
    // A run that crashed while routed: PlayDev.ini remembers the speaker.
    ASSERT_TRUE(routing::ensureCaptureSide(nullptr));
    routing::setQuibDefault();
    ASSERT_EQ(client.defaultSinkName(), "parlune_01");
    ASSERT_FALSE(parlune::playdev::isParluneinPlayDeviceINI());

    EXPECT_FALSE(routing::startupCheck(parlune::playdev::isParluneinPlayDeviceINI()));
    EXPECT_EQ(client.defaultSinkName(), "speaker");
}

TEST_F(Routing, StartupCheckReportsAVirtualDefaultItCannotUndo) {
    PARLUNE_NEED_PULSE();
    ASSERT_TRUE(routing::ensureCaptureSide(nullptr));
    ASSERT_TRUE(client.setDefaultSink("parlune_01"));
    writePlayDevNamingTheVirtualDevice();
    ASSERT_TRUE(parlune::playdev::isParluneinPlayDeviceINI());

    EXPECT_TRUE(routing::startupCheck(true));  // the caller now shows its message
    EXPECT_EQ(client.defaultSinkName(), "parlune_01");
}

TEST(RoutingWithoutVirtualDevice, ExitsWithAMessageInsteadOfSilently) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            setenv("PULSE_SERVER", "unix:/nonexistent/parlune/native", 1);
            routing::setFatalHandler([](const QString& message) {
                fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
            });
            routing::startQuib();
        },
        ::testing::ExitedWithCode(1), "PARLUNE-01 is not available");
}
