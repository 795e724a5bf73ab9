#include "platform/audiolib/effects/effects.h"

#include <algorithm>
#include <cmath>

namespace parlune::audiolib::fx {

namespace {
const ParameterInfo kChorusParameters[ChorusUnit::kParameterCount] = {
    {"Mix", "%", 0.0f, 100.0f, 50.0f},
    {"Rate", "Hz", 0.0f, 20.0f, 0.8f},
    {"Depth", "%", 0.0f, 100.0f, 3.0f},
};
constexpr double kCentreDelayMs = 20.0;
constexpr int kVoices = 3;
constexpr double kTwoPi = 6.283185307179586;
}  // namespace

const ParameterInfo* ChorusUnit::parameterInfo(int index) {
    return index >= 0 && index < kParameterCount ? &kChorusParameters[index] : nullptr;
}

// The delay swings between 0 and twice the centre delay at full depth; two
// spare samples serve the interpolation.
ChorusUnit::ChorusUnit(int sampleRate)
    : sampleRate_(std::max(sampleRate, 1)),
      params_(kChorusParameters),
      line_(static_cast<size_t>(std::ceil(2.0 * kCentreDelayMs * 0.001 * sampleRate_)) + 3, 0.0f) {}

void ChorusUnit::reset() {
    std::fill(line_.begin(), line_.end(), 0.0f);
    writePos_ = 0;
    lfoPhase_ = 0.0;
}

void ChorusUnit::process(const float* in, float* out, int frames) {
    const int size = static_cast<int>(line_.size());
    const float mix = params_[kMix] * 0.01f;
    const double phaseStep = params_[kRate] / sampleRate_;
    const double centre = kCentreDelayMs * 0.001 * sampleRate_;
    const double swing = centre * params_[kDepth] * 0.01;
    float* line = line_.data();
    int pos = writePos_;
    double phase = lfoPhase_;
    for (int i = 0; i < frames; ++i) {
        const float x = in[i];
        line[pos] = x;  // written first, so a zero delay reads the current sample
        float wet = 0.0f;
        for (int v = 0; v < kVoices; ++v) {
            const double delay = centre + swing * std::sin(kTwoPi * (phase + double(v) / kVoices));
            double readPos = pos - delay;
            if (readPos < 0) readPos += size;
            const int i0 = static_cast<int>(readPos);
            const int i1 = i0 + 1 == size ? 0 : i0 + 1;
            const float frac = static_cast<float>(readPos - i0);
            wet += line[i0] + frac * (line[i1] - line[i0]);
        }
        out[i] = (1.0f - mix) * x + mix * (wet / kVoices);
        if (++pos == size) pos = 0;
        phase += phaseStep;
        if (phase >= 1.0) phase -= 1.0;
    }
    writePos_ = pos;
    lfoPhase_ = phase;
}

}  // namespace parlune::audiolib::fx
