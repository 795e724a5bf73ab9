#include "platform/endpoints/endpoints.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_support.h"

using parlune::endpoints::Endpoint;
using parlune::endpoints::PulseEndpoints;

TEST(PulseEndpoints, NamesDefaultsAndCaptureEndpointsWithoutMonitors) {
    PARLUNE_NEED_PULSE();
    PulseEndpoints endpoints;
    ASSERT_TRUE(endpoints.available());
    EXPECT_EQ(endpoints.defaultPlaybackName().value_or(""), "Speaker");

    const auto active = endpoints.active();
    ASSERT_TRUE(active.has_value());
    const bool hasMic = std::any_of(active->begin(), active->end(), [](const Endpoint& e) {
        return e.id == "mic" && e.friendlyName == "Microphone";
    });
    EXPECT_TRUE(hasMic);
    for (const auto& e : *active) EXPECT_EQ(e.id.find(".monitor"), std::string::npos) << e.id;

    const auto def = endpoints.defaultEndpoint();
    ASSERT_TRUE(def.has_value());
    EXPECT_EQ(def->friendlyName, "Microphone");
}

TEST(PulseEndpoints, MutesAndUnmutesOneCaptureEndpoint) {
    PARLUNE_NEED_PULSE();
    PulseEndpoints endpoints;
    auto micMuted = [&] {
        for (const auto& e : endpoints.active().value_or(std::vector<Endpoint>{}))
            if (e.id == "mic") return e.muted;
        ADD_FAILURE() << "no mic";
        return false;
    };
    ASSERT_TRUE(endpoints.setMute("mic", true));
    EXPECT_TRUE(micMuted());
    ASSERT_TRUE(endpoints.setMute("mic", false));
    EXPECT_FALSE(micMuted());
    EXPECT_FALSE(endpoints.setMute("no_such_endpoint", true));
}
