#include "ui/core/pad_math.h"
#include "ui/core/presets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace parlune::ui {
namespace {

TEST(PadMath, PointsMapToPitchFormantAndWarp) {
    struct Case {
        double x, y;
        double pitch, formant;
        int warp;
    };
    const Case cases[] = {
        {0.3, 0.8, 0.65, 0.8, 1},  // left edge compressed
        {0.7, 0.0, 0.85, 0.1, 1},  // exactly zero formant becomes 0.1
        {0.85, -0.25, 0.925, -0.25, 1}, {0.86, 2.5, 0.93, 2.5, 3},  // warp switches at 0.86
        {1.0, 1.0, 1.0, 1.0, 3},        {1.4, 1.15, 1.4, 1.15, 3}, {1.7, -0.5, 1.7, -0.5, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_DOUBLE_EQ(pitchFromPad(c.x), c.pitch);
        EXPECT_DOUBLE_EQ(formantFromPad(c.y), c.formant);
        EXPECT_EQ(warpFromPad(c.x), c.warp);
    }
}

TEST(PadMath, ClampAndModeRemapKeepThePointOnThePad) {
    double x = -3, y = 9;
    clampToRange(kHumanRange, x, y);
    EXPECT_EQ(x, 0.3);
    EXPECT_EQ(y, 1.2);
    // A text that is not a number arrives as 0: the human pad makes it 0.8.
    x = 0, y = 0;
    clampToRange(kHumanRange, x, y);
    EXPECT_EQ(pitchFromPad(x), 0.65);
    EXPECT_EQ(formantFromPad(y), 0.8);
    EXPECT_DOUBLE_EQ(humanToCartoonY(1.0), 1.0);
    EXPECT_DOUBLE_EQ(humanToCartoonY(0.8), -0.5);
    EXPECT_DOUBLE_EQ(cartoonToHumanY(2.5), 1.2);
    EXPECT_NEAR(cartoonToHumanY(humanToCartoonY(0.93)), 0.93, 1e-12);
}

TEST(Presets, TableGivesTheEightVoices) {
    struct Expected {
        const char* name;
        bool cartoon;
        double pitch, formant;
        int warp;
    };
    const Expected expected[] = {
        {"DAVID", false, 0.85, 0.85, 1}, {"JOHN", false, 0.835, 1.07, 1},
        {"ALICE", false, 1.4, 1.15, 3},  {"EMILY", false, 1.5, 0.9, 3},
        {"GOBLIN", true, 1.4, 0.75, 3},  {"MEERKAT", true, 1.67, 0.1, 3},
        {"ROBOT", true, 0.85, 2.0, 1},   {"ALIEN", true, 0.9, 0.4, 1},
    };
    ASSERT_EQ(presets().size(), 8u);
    for (int i = 0; i < kPresetCount; ++i) {
        const Preset& p = presets()[i];
        SCOPED_TRACE(p.name);
        EXPECT_STREQ(p.name, expected[i].name);
        EXPECT_EQ(p.cartoon, expected[i].cartoon);
        EXPECT_NEAR(pitchFromPad(p.padX), expected[i].pitch, 1e-12);
        EXPECT_NEAR(formantFromPad(p.padY), expected[i].formant, 1e-12);
        EXPECT_EQ(warpFromPad(p.padX), expected[i].warp);
        // Every point lies inside its mode's range, so applying it never clamps.
        double x = p.padX, y = p.padY;
        clampToRange(p.cartoon ? kCartoonRange : kHumanRange, x, y);
        EXPECT_EQ(x, p.padX);
        EXPECT_EQ(y, p.padY);
    }
    // JOHN's pitch is the double nearest 0.835, which lies just below it: two
    // decimals show 0.83.
    char shown[16];
    std::snprintf(shown, sizeof shown, "%.2f", pitchFromPad(presets()[1].padX));
    EXPECT_STREQ(shown, "0.83");
    EXPECT_EQ(findPreset("robot"), &presets()[6]);
    EXPECT_EQ(findPreset("Meerkat"), &presets()[5]);
    EXPECT_EQ(findPreset("robo"), nullptr);
    EXPECT_EQ(findPreset(""), nullptr);
}

}  // namespace
}  // namespace parlune::ui
