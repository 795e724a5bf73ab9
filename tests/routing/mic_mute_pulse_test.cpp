#include <gtest/gtest.h>

#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "routing/mic_mute.h"
#include "tests/support/test_support.h"

namespace pp = parlune::pulse;

namespace {

class MicMuteOnServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!client.connected()) return;
        parlune::vdev::ensureVirtualDevice(client);
        camSink = client.loadModule("module-null-sink", "sink_name=camfeed");
        cam = client.loadModule("module-remap-source",
                                "source_name=webcam master=camfeed.monitor "
                                "source_properties=device.description=Webcam");
    }
    void TearDown() override {
        if (!client.connected()) return;
        client.setSourceMute("mic", false);
        if (cam >= 0) client.unloadModule(static_cast<uint32_t>(cam));
        if (camSink >= 0) client.unloadModule(static_cast<uint32_t>(camSink));
        parlune::vdev::removeVirtualDevice(client);
    }
    bool muted(const std::string& name) {
        for (const auto& s : client.sources())
            if (s.name == name) return s.muted;
        ADD_FAILURE() << "no source " << name;
        return false;
    }
    pp::PulseClient client{"Parlune mute test"};
    int64_t camSink = -1, cam = -1;
};

}  // namespace

TEST_F(MicMuteOnServer, MutesAndUnmutesTheRightSources) {
    PARLUNE_NEED_PULSE();
    ASSERT_GE(cam, 0);
    client.setSourceMute(parlune::vdev::kSourceName, true);

    parlune::routing::muteOtherMicrophones("");  // start-up
    EXPECT_FALSE(muted("mic"));                  // the default
    EXPECT_TRUE(muted("webcam"));
    EXPECT_FALSE(muted(parlune::vdev::kSourceName));
    EXPECT_FALSE(muted("speaker.monitor"));  // monitors are not capture endpoints

    parlune::routing::muteOtherMicrophones("Webcam");
    EXPECT_TRUE(muted("mic"));
    EXPECT_FALSE(muted("webcam"));
    EXPECT_FALSE(muted(parlune::vdev::kSourceName));
}
