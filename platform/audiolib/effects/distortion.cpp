#include "platform/audiolib/effects/effects.h"

#include <algorithm>
#include <cmath>

namespace parlune::audiolib::fx {

namespace {
const ParameterInfo kDistortionParameters[DistortionUnit::kParameterCount] = {
    {"Level", "", 0.0f, 1.0f, 0.5f},
};
// Level 1 would make k infinite (a hard sign function); this is already a
// near-square wave.
constexpr float kMaxLevel = 0.999f;
// Far beyond any audio level; keeps (1 + k) * x from overflowing.
constexpr float kInputLimit = 1.0e6f;
}  // namespace

const ParameterInfo* DistortionUnit::parameterInfo(int index) {
    return index >= 0 && index < kParameterCount ? &kDistortionParameters[index] : nullptr;
}

DistortionUnit::DistortionUnit(int /*sampleRate*/) : params_(kDistortionParameters) {}

void DistortionUnit::process(const float* in, float* out, int frames) {
    const float level = std::min(params_[kLevel], kMaxLevel);
    const float k = 2.0f * level / (1.0f - level);
    for (int i = 0; i < frames; ++i) {
        const float x = std::clamp(in[i], -kInputLimit, kInputLimit);
        out[i] = (1.0f + k) * x / (1.0f + k * std::fabs(x));
    }
}

}  // namespace parlune::audiolib::fx
