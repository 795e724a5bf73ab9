#include "platform/audiolib/effects/effects.h"

#include <algorithm>
#include <cmath>

#include "platform/audiolib/effects/dsp_helpers.h"

namespace parlune::audiolib::fx {

namespace {
const ParameterInfo kEchoParameters[EchoUnit::kParameterCount] = {
    {"Delay", "ms", 10.0f, EchoUnit::kMaxDelayMs, 500.0f},
    {"Feedback", "%", 0.0f, 100.0f, 50.0f},
    {"Dry Level", "dB", -80.0f, 10.0f, 0.0f},
    {"Wet Level", "dB", -80.0f, 10.0f, 0.0f},
};
// 100 % feedback would make the loop lossless, and a constant input would
// then grow without bound; just below unity keeps it stable.
constexpr float kMaxFeedbackGain = 0.999f;
}  // namespace

const ParameterInfo* EchoUnit::parameterInfo(int index) {
    return index >= 0 && index < kParameterCount ? &kEchoParameters[index] : nullptr;
}

EchoUnit::EchoUnit(int sampleRate)
    : sampleRate_(std::max(sampleRate, 1)),
      params_(kEchoParameters),
      line_(static_cast<size_t>(std::ceil(kMaxDelayMs * 0.001 * sampleRate_)) + 1, 0.0f) {}

void EchoUnit::reset() {
    std::fill(line_.begin(), line_.end(), 0.0f);
    writePos_ = 0;
}

void EchoUnit::process(const float* in, float* out, int frames) {
    const int size = static_cast<int>(line_.size());
    const int delay = std::clamp(
        static_cast<int>(std::lround(params_[kDelay] * 0.001 * sampleRate_)), 1, size - 1);
    const float feedback = std::min(params_[kFeedback] * 0.01f, kMaxFeedbackGain);
    const float dry = detail::dbToGain(params_[kDryLevel]);
    const float wet = detail::dbToGain(params_[kWetLevel]);
    float* line = line_.data();
    int pos = writePos_;
    for (int i = 0; i < frames; ++i) {
        int readPos = pos - delay;
        if (readPos < 0) readPos += size;
        const float delayed = line[readPos];
        const float x = in[i];
        line[pos] = detail::flushTiny(x + feedback * delayed);
        out[i] = dry * x + wet * delayed;
        if (++pos == size) pos = 0;
    }
    writePos_ = pos;
}

}  // namespace parlune::audiolib::fx
