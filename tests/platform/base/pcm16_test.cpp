// The float/16-bit sample conversion: scaling, rounding, clamping and the
// values that are not numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/base/pcm16.h"

namespace parlune::base {
namespace {

TEST(Pcm16, FloatsMapToTheNearestSampleClampedToTheSixteenBitRange) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float lsb = 1.0f / 32768.0f;
    struct Case {
        const char* name;
        float in;
        int16_t out;
    } cases[] = {
        {"zero", 0.0f, 0},
        {"negative zero", -0.0f, 0},
        {"half", 0.5f, 16384},
        {"minus a quarter", -0.25f, -8192},
        {"one step", lsb, 1},
        {"a little under half a step", 0.49f * lsb, 0},
        {"a little over half a step", 0.51f * lsb, 1},
        {"half a step: ties go to even", 0.5f * lsb, 0},
        {"one and a half steps: ties go to even", 1.5f * lsb, 2},
        {"minus half a step", -0.5f * lsb, 0},
        {"just under the top, rounding down", 32766.4f * lsb, 32766},
        {"the top step", 32767.0f * lsb, 32767},
        {"half a step over the top", 32767.5f * lsb, 32767},
        {"+1.0", 1.0f, 32767},
        {"-1.0", -1.0f, -32768},
        {"half a step under the bottom", -32768.5f * lsb, -32768},
        {"twice full scale", 2.0f, 32767},
        {"minus twice full scale", -2.0f, -32768},
        {"the largest float", std::numeric_limits<float>::max(), 32767},
        {"the most negative float", std::numeric_limits<float>::lowest(), -32768},
        {"+inf", inf, 32767},
        {"-inf", -inf, -32768},
        {"NaN", nan, 0},
        {"negative NaN", -nan, 0},
        {"smallest denormal", std::numeric_limits<float>::denorm_min(), 0},
        {"negative denormal", -1e-40f, 0},
        {"smallest normal", std::numeric_limits<float>::min(), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(toPcm16(c.in), c.out) << c.name;
}

TEST(Pcm16, EverySixteenBitSampleComesBackBitForBitThroughFloat) {
    for (int v = -32768; v <= 32767; ++v) {
        const float f = fromPcm16(static_cast<int16_t>(v));
        ASSERT_EQ(f, static_cast<float>(v) / 32768.0f) << v;
        ASSERT_EQ(toPcm16(f), v) << v;
    }
    EXPECT_EQ(fromPcm16(-32768), -1.0f);
    EXPECT_LT(fromPcm16(32767), 1.0f);
}

}  // namespace
}  // namespace parlune::base
