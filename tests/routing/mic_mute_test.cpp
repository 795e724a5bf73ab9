#include "routing/mic_mute.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/endpoints/endpoints.h"

using parlune::endpoints::CaptureEndpoints;
using parlune::endpoints::Endpoint;
using parlune::routing::muteOtherMicrophones;

namespace {

const std::string kVirtual = "PARLUNE-01 Microphone (Parlune Virtual Audio)";

class FakeEndpoints : public CaptureEndpoints {
public:
    FakeEndpoints(std::vector<Endpoint> endpoints, std::string defaultId)
        : list(std::move(endpoints)), defaultId(std::move(defaultId)) {}

    std::optional<std::vector<Endpoint>> active() override {
        if (listFails) return std::nullopt;
        return list;
    }
    std::optional<Endpoint> defaultEndpoint() override {
        for (const auto& e : list)
            if (e.id == defaultId) return e;
        return std::nullopt;
    }
    bool setMute(const std::string& id, bool mute) override {
        calls.emplace_back(id, mute);
        if (static_cast<int>(calls.size()) - 1 == failAtCall) return false;
        for (auto& e : list)
            if (e.id == id) e.muted = mute;
        return true;
    }
    std::map<std::string, bool> muted() const {
        std::map<std::string, bool> out;
        for (const auto& e : list) out[e.id] = e.muted;
        return out;
    }

    std::vector<Endpoint> list;
    std::string defaultId;
    bool listFails = false;
    int failAtCall = -1;
    std::vector<std::pair<std::string, bool>> calls;
};

// Every endpoint starts unmuted except where a case says otherwise.
std::vector<Endpoint> desk() {
    return {{"headset", "Headset Microphone", false},
            {"webcam", "Webcam Microphone", true},
            {"virtual", kVirtual, true}};
}

}  // namespace

TEST(MuteOtherMicrophones, SparesTheChosenOneAndTheVirtualDevice) {
    struct Case {
        const char* what;
        std::vector<Endpoint> endpoints;
        std::string defaultId;
        std::string chosen;
        std::map<std::string, bool> expectMuted;
    } cases[] = {
        {"start-up: all muted, then the default unmuted",
         desk(),
         "headset",
         "",
         {{"headset", false}, {"webcam", true}, {"virtual", false}}},
        {"the webcam chosen",
         desk(),
         "headset",
         "Webcam Microphone",
         {{"headset", true}, {"webcam", false}, {"virtual", false}}},
        {"a name no endpoint carries",
         desk(),
         "headset",
         "Mic (USB Audio)",
         {{"headset", false}, {"webcam", true}, {"virtual", false}}},
        {"two endpoints with the chosen name: the first stays",
         {{"usb1", "USB Mic"}, {"usb2", "USB Mic"}, {"headset", "Headset Microphone"}},
         "headset",
         "USB Mic",
         {{"usb1", false}, {"usb2", true}, {"headset", true}}},
        {"two with the chosen name, the default among them stays",
         {{"usb1", "USB Mic"}, {"usb2", "USB Mic"}, {"headset", "Headset Microphone"}},
         "usb2",
         "USB Mic",
         {{"usb1", true}, {"usb2", false}, {"headset", true}}},
        {"three with the chosen name: exactly one stays",
         {{"a", "Mic"}, {"b", "Mic"}, {"c", "Mic"}},
         "",
         "Mic",
         {{"a", false}, {"b", true}, {"c", true}}},
        {"the chosen name carries the product name",
         {{"p1", "Parlune Mic"}, {"p2", "Parlune Mic"}, {"webcam", "Webcam"}},
         "webcam",
         "Parlune Mic",
         {{"p1", false}, {"p2", false}, {"webcam", false}}},
        {"product name is case-sensitive",
         {{"x", "PARLUNE MIC"}, {"h", "Headset"}},
         "h",
         "",
         {{"x", true}, {"h", false}}},
    };
    for (const auto& c : cases) {
        FakeEndpoints fake(c.endpoints, c.defaultId);
        muteOtherMicrophones(c.chosen, fake);
        EXPECT_EQ(fake.muted(), c.expectMuted) << c.what;
    }
}

TEST(MuteOtherMicrophones, StartUpMutesTheDefaultFirstAndUnmutesItLast) {
    FakeEndpoints fake(desk(), "headset");
    muteOtherMicrophones("", fake);
    ASSERT_EQ(fake.calls.size(), 4u);
    EXPECT_EQ(fake.calls.front(), std::make_pair(std::string("headset"), true));
    EXPECT_EQ(fake.calls.back(), std::make_pair(std::string("headset"), false));

    FakeEndpoints chosen(desk(), "headset");
    muteOtherMicrophones("Webcam Microphone", chosen);
    EXPECT_EQ(chosen.calls.size(), 3u);  // no extra unmute of the default
}

TEST(MuteOtherMicrophones, AFailedCallEndsThePass) {
    FakeEndpoints fake(desk(), "headset");
    fake.failAtCall = 1;  // the webcam
    muteOtherMicrophones("", fake);
    EXPECT_EQ(fake.calls.size(), 2u);
    EXPECT_TRUE(fake.muted()["virtual"]);  // left as it was
    EXPECT_TRUE(fake.muted()["headset"]);  // no unmute of the default after a failure

    FakeEndpoints noList(desk(), "headset");
    noList.listFails = true;
    muteOtherMicrophones("", noList);
    EXPECT_TRUE(noList.calls.empty());
}
