#include "platform/audiolib/effects/effects.h"

#include <algorithm>
#include <cmath>

namespace parlune::audiolib::fx {

namespace {
const ParameterInfo kTremoloParameters[TremoloUnit::kParameterCount] = {
    {"Frequency", "Hz", 0.1f, 20.0f, 5.0f}, {"Depth", "", 0.0f, 1.0f, 1.0f},
    {"Shape", "", 0.0f, 1.0f, 0.0f},        {"Skew", "", -1.0f, 1.0f, 0.0f},
    {"Duty", "", 0.0f, 1.0f, 0.5f},         {"Square", "", 0.0f, 1.0f, 0.0f},
    {"Phase", "", 0.0f, 1.0f, 0.0f},        {"Spread", "", -1.0f, 1.0f, 0.0f},
};
constexpr double kPi = 3.141592653589793;
// Keeps both halves of the cycle, and both sides of each peak, non-empty.
constexpr double kMinFraction = 0.01;
}  // namespace

const ParameterInfo* TremoloUnit::parameterInfo(int index) {
    return index >= 0 && index < kParameterCount ? &kTremoloParameters[index] : nullptr;
}

TremoloUnit::TremoloUnit(int sampleRate)
    : sampleRate_(std::max(sampleRate, 1)), params_(kTremoloParameters) {}

void TremoloUnit::reset() { lfoPhase_ = 0.0; }

// The cycle is an upper half (v from 0.5 up to 1 and back) lasting `duty`,
// then a mirrored lower half; each half is one hump whose peak skew moves.
float TremoloUnit::oscillator(double phase, float shape, float skew, float duty, float square) {
    const double cyclePos = phase - std::floor(phase);
    const double upperPart = std::clamp(double(duty), kMinFraction, 1.0 - kMinFraction);
    const bool upper = cyclePos < upperPart;
    const double u = upper ? cyclePos / upperPart : (cyclePos - upperPart) / (1.0 - upperPart);
    const double peak = std::clamp(0.5 * (1.0 + skew), kMinFraction, 1.0 - kMinFraction);
    const double warped = u < peak ? 0.5 * u / peak : 0.5 + 0.5 * (u - peak) / (1.0 - peak);
    const double triangle = 1.0 - std::fabs(2.0 * warped - 1.0);
    const double hump =
        (1.0 - shape) * triangle + (shape > 0.0f ? shape * std::sin(kPi * warped) : 0.0);
    const double flattened = std::min(1.0, hump / std::max(1.0 - square, 1e-6));
    return static_cast<float>(upper ? 0.5 + 0.5 * flattened : 0.5 - 0.5 * flattened);
}

void TremoloUnit::process(const float* in, float* out, int frames) {
    const double phaseStep = params_[kFrequency] / sampleRate_;
    const float depth = params_[kDepth];
    const float shape = params_[kShape], skew = params_[kSkew], duty = params_[kDuty];
    const float square = params_[kSquare];
    const double offset = params_[kPhase];
    double phase = lfoPhase_;
    for (int i = 0; i < frames; ++i) {
        const float v = oscillator(phase + offset, shape, skew, duty, square);
        out[i] = in[i] * (1.0f - depth * (1.0f - v));
        phase += phaseStep;
        if (phase >= 1.0) phase -= 1.0;
    }
    lfoPhase_ = phase;
}

}  // namespace parlune::audiolib::fx
