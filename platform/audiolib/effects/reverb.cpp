#include "platform/audiolib/effects/effects.h"

#include <algorithm>
#include <cmath>

#include "platform/audiolib/effects/dsp_helpers.h"

namespace parlune::audiolib::fx {

namespace {

constexpr int kPropertyCount = 12;
struct Range {
    float minimum, maximum;
};
// In the order of ReverbProperties' fields.
constexpr Range kRanges[kPropertyCount] = {
    {100, 20000}, {0, 300},   {0, 100},  {20, 20000}, {10, 100}, {0, 100},
    {0, 100},     {20, 1000}, {-36, 12}, {20, 20000}, {0, 100},  {-80, 20},
};
enum Field {
    kDecayTime,
    kEarlyDelay,
    kLateDelay,
    kHfReference,
    kHfDecayRatio,
    kDiffusion,
    kDensity,
    kLowShelfFrequency,
    kLowShelfGain,
    kHighCut,
    kEarlyLateMix,
    kWetLevel
};

std::array<float, kPropertyCount> toArray(const ReverbProperties& p) {
    return {p.decayTime,    p.earlyDelay, p.lateDelay,    p.hfReference,
            p.hfDecayRatio, p.diffusion,  p.density,      p.lowShelfFrequency,
            p.lowShelfGain, p.highCut,    p.earlyLateMix, p.wetLevel};
}

constexpr double kPi = 3.141592653589793;

// Late network: line lengths at full density, spread so that no two share a
// common factor once rounded to primes.
constexpr int kLines = 8;
constexpr double kLineMs[kLines] = {37.3, 41.9, 47.7, 53.1, 59.9, 67.1, 73.7, 79.3};
// Lower densities shorten the lines down to this fraction: fewer modes.
constexpr double kMinDensityScale = 0.5;
constexpr float kInputSigns[kLines] = {1, -1, 1, 1, -1, 1, -1, -1};
constexpr float kOutputSigns[kLines] = {1, 1, -1, 1, -1, -1, 1, -1};
const float kInvSqrtLines = 1.0f / std::sqrt(float(kLines));

// Series all-pass diffusers ahead of the network smear the onset.
constexpr int kDiffusers = 4;
constexpr double kDiffuserMs[kDiffusers] = {4.7, 3.6, 12.7, 9.3};
constexpr float kMaxDiffuserGain = 0.7f;

// Early reflections: taps after the early delay, alternating in sign.
constexpr int kTaps = 8;
constexpr double kTapMs[kTaps] = {0.0, 3.1, 7.3, 11.3, 16.7, 21.1, 27.9, 35.3};
constexpr float kTapWeights[kTaps] = {1.0f, -0.85f, 0.75f, -0.65f, 0.55f, -0.5f, 0.4f, -0.35f};

int samplesOf(double ms, int rate) { return static_cast<int>(std::lround(ms * 0.001 * rate)); }

int nextPrime(int n) {
    if (n <= 2) return 2;
    for (int candidate = n | 1;; candidate += 2) {
        bool prime = true;
        for (int d = 3; d * d <= candidate; d += 2)
            if (candidate % d == 0) {
                prime = false;
                break;
            }
        if (prime) return candidate;
    }
}

// Circular delay line with a fixed capacity and a variable read delay.
struct DelayLine {
    std::vector<float> buffer;
    int pos = 0;
    void allocate(int capacity) { buffer.assign(static_cast<size_t>(std::max(capacity, 2)), 0.0f); }
    void clear() {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        pos = 0;
    }
    // Sample written `delay` writes ago (1 <= delay < capacity); delay 0 reads
    // the oldest sample, which only the input line uses before writing.
    float read(int delay) const {
        int at = pos - delay;
        if (at < 0) at += static_cast<int>(buffer.size());
        return buffer[at];
    }
    void write(float v) {
        buffer[pos] = v;
        if (++pos == static_cast<int>(buffer.size())) pos = 0;
    }
};

struct Biquad {
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float z1 = 0, z2 = 0;
    float run(float x) {
        const float y = b0 * x + z1;
        z1 = detail::flushTiny(b1 * x - a1 * y + z2);
        z2 = detail::flushTiny(b2 * x - a2 * y);
        return y;
    }
    void clear() { z1 = z2 = 0; }
    void setNormalised(double nb0, double nb1, double nb2, double na0, double na1, double na2) {
        b0 = float(nb0 / na0), b1 = float(nb1 / na0), b2 = float(nb2 / na0);
        a1 = float(na1 / na0), a2 = float(na2 / na0);
    }
    void setIdentity() { setNormalised(1, 0, 0, 1, 0, 0); }
    void setLowPass(double hz, int rate) {
        if (hz >= 0.45 * rate) return setIdentity();
        const double w = 2 * kPi * hz / rate, c = std::cos(w), alpha = std::sin(w) / std::sqrt(2.0);
        setNormalised((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
    }
    void setLowShelf(double hz, double gainDb, int rate) {
        const double a = std::pow(10.0, gainDb / 40.0);
        const double w = 2 * kPi * std::min(hz, 0.45 * rate) / rate, c = std::cos(w);
        const double beta = 2 * std::sqrt(a) * std::sin(w) / std::sqrt(2.0);  // slope 1
        setNormalised(a * ((a + 1) - (a - 1) * c + beta), 2 * a * ((a - 1) - (a + 1) * c),
                      a * ((a + 1) - (a - 1) * c - beta), (a + 1) + (a - 1) * c + beta,
                      -2 * ((a - 1) + (a + 1) * c), (a + 1) + (a - 1) * c - beta);
    }
};

}  // namespace

struct SystemReverb::State {
    uint32_t appliedGeneration = ~0u;
    bool clean = true;  // every buffer and filter holds zeros

    DelayLine input;
    int tapDelay[kTaps] = {};
    float tapGain[kTaps] = {};
    int lateDelay = 0;

    DelayLine diffuser[kDiffusers];
    int diffuserDelay[kDiffusers] = {};
    float diffuserGain = 0;

    DelayLine line[kLines];
    int lineDelay[kLines] = {};
    float lineGain[kLines] = {};  // decay gain times (1 - pole): the damping filter's input gain
    float linePole[kLines] = {};
    float damped[kLines] = {};

    Biquad highCut, lowShelf;
    float earlyLevel = 0;  // relative to the late reverb
    float targetWet = 0, currentWet = 0;

    void clear() {
        input.clear();
        for (auto& d : diffuser) d.clear();
        for (auto& l : line) l.clear();
        std::fill(std::begin(damped), std::end(damped), 0.0f);
        highCut.clear();
        lowShelf.clear();
        clean = true;
    }
};

SystemReverb::SystemReverb(int sampleRate)
    : sampleRate_(std::max(sampleRate, 1)), state_(std::make_unique<State>()) {
    const auto initial = toArray(kReverbOff);
    for (int i = 0; i < kPropertyCount; ++i) properties_[i].store(initial[i]);
    State& s = *state_;
    s.input.allocate(
        samplesOf(kRanges[kEarlyDelay].maximum + kRanges[kLateDelay].maximum + kTapMs[kTaps - 1],
                  sampleRate_) +
        2);
    for (int d = 0; d < kDiffusers; ++d)
        s.diffuser[d].allocate(samplesOf(kDiffuserMs[d], sampleRate_) + 1);
    for (int l = 0; l < kLines; ++l)
        s.line[l].allocate(nextPrime(std::max(samplesOf(kLineMs[l], sampleRate_), 2)) + 1);
}

SystemReverb::~SystemReverb() = default;

bool SystemReverb::setProperties(const ReverbProperties& properties) {
    const auto values = toArray(properties);
    for (float v : values)
        if (!std::isfinite(v)) return false;
    bool changed = false;
    for (int i = 0; i < kPropertyCount; ++i) {
        const float v = std::clamp(values[i], kRanges[i].minimum, kRanges[i].maximum);
        if (properties_[i].load(std::memory_order_relaxed) != v) {
            properties_[i].store(v, std::memory_order_relaxed);
            changed = true;
        }
    }
    // Released after the values: the mixer thread that sees the new
    // generation sees them all.
    if (changed) generation_.fetch_add(1, std::memory_order_release);
    return true;
}

ReverbProperties SystemReverb::getProperties() const {
    float v[kPropertyCount];
    for (int i = 0; i < kPropertyCount; ++i) v[i] = properties_[i].load(std::memory_order_relaxed);
    return {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]};
}

void SystemReverb::reset() {
    state_->clear();
    state_->currentWet = state_->targetWet;
}

void SystemReverb::process(const float* in, float* out, int frames) {
    State& s = *state_;
    const uint32_t generation = generation_.load(std::memory_order_acquire);
    if (generation != s.appliedGeneration) {
        s.appliedGeneration = generation;
        float p[kPropertyCount];
        for (int i = 0; i < kPropertyCount; ++i)
            p[i] = properties_[i].load(std::memory_order_relaxed);
        const int rate = sampleRate_;

        const int inputCapacity = static_cast<int>(s.input.buffer.size());
        float tapEnergy = 0;
        for (float w : kTapWeights) tapEnergy += w * w;
        for (int t = 0; t < kTaps; ++t) {
            s.tapDelay[t] =
                std::min(samplesOf(p[kEarlyDelay] + kTapMs[t], rate), inputCapacity - 1);
            s.tapGain[t] = kTapWeights[t] / std::sqrt(tapEnergy);
        }
        s.lateDelay = std::min(samplesOf(p[kEarlyDelay] + p[kLateDelay], rate), inputCapacity - 1);

        s.diffuserGain = kMaxDiffuserGain * p[kDiffusion] * 0.01f;
        for (int d = 0; d < kDiffusers; ++d)
            s.diffuserDelay[d] = static_cast<int>(s.diffuser[d].buffer.size()) - 1;

        // Per-line decay gains make every recirculation lose 60 dB over the
        // decay time; the one-pole damping lowers the gain at the HF
        // reference so that there it takes the decay time times the ratio.
        const double densityScale =
            kMinDensityScale + (1.0 - kMinDensityScale) * p[kDensity] * 0.01;
        const double decaySeconds = p[kDecayTime] * 0.001;
        const double hfDecaySeconds = decaySeconds * p[kHfDecayRatio] * 0.01;
        const double cosRef =
            std::cos(2 * kPi * std::min<double>(p[kHfReference], 0.45 * rate) / rate);
        for (int l = 0; l < kLines; ++l) {
            const int length =
                std::min(nextPrime(std::max(samplesOf(kLineMs[l] * densityScale, rate), 2)),
                         static_cast<int>(s.line[l].buffer.size()) - 1);
            s.lineDelay[l] = length;
            const double seconds = double(length) / rate;
            const double gain = std::pow(10.0, -3.0 * seconds / decaySeconds);
            const double hfGain = std::pow(10.0, -3.0 * seconds / hfDecaySeconds);
            const double r2 = (hfGain / gain) * (hfGain / gain);
            double pole = 0;
            if (1 - r2 > 1e-9) {
                // |(1 - a) / (1 - a e^-jw)| = r at the reference, solved for a.
                const double b = 1 - r2 * cosRef;
                pole = (b - std::sqrt(std::max(0.0, b * b - (1 - r2) * (1 - r2)))) / (1 - r2);
            }
            s.linePole[l] = float(pole);
            s.lineGain[l] = float(gain * (1 - pole));
        }

        s.highCut.setLowPass(p[kHighCut], rate);
        s.lowShelf.setLowShelf(p[kLowShelfFrequency], p[kLowShelfGain], rate);
        s.earlyLevel = p[kEarlyLateMix] * 0.01f;
        s.targetWet = detail::dbToGain(p[kWetLevel]);
    }

    if (s.targetWet == 0.0f && s.currentWet == 0.0f) {
        // Silent: the dry signal passes untouched, and a later switch back on
        // starts from an empty room rather than an old tail.
        if (in != out) std::copy(in, in + frames, out);
        if (!s.clean) s.clear();
        return;
    }
    s.clean = false;

    // Glide to a new wet level over the block instead of stepping (no click).
    const float wetStep = frames > 0 ? (s.targetWet - s.currentWet) / frames : 0.0f;
    float wet = s.currentWet;
    for (int i = 0; i < frames; ++i) {
        const float x = in[i];
        s.input.write(x);
        float early = 0;
        for (int t = 0; t < kTaps; ++t) early += s.tapGain[t] * s.input.read(s.tapDelay[t] + 1);

        float diffused = s.input.read(s.lateDelay + 1);
        for (int d = 0; d < kDiffusers; ++d) {
            const float delayed = s.diffuser[d].read(s.diffuserDelay[d]);
            const float w = detail::flushTiny(diffused + s.diffuserGain * delayed);
            s.diffuser[d].write(w);
            diffused = delayed - s.diffuserGain * w;
        }

        float v[kLines];
        float late = 0;
        for (int l = 0; l < kLines; ++l) {
            const float o = s.line[l].read(s.lineDelay[l]);
            s.damped[l] = detail::flushTiny(s.lineGain[l] * o + s.linePole[l] * s.damped[l]);
            v[l] = s.damped[l];
            late += kOutputSigns[l] * v[l];
        }
        late *= kInvSqrtLines;
        // Eight-point Hadamard mixing (orthogonal once scaled): energy is
        // spread over all lines and only the line gains remove it.
        for (int half = 1; half < kLines; half *= 2)
            for (int j = 0; j < kLines; j += 2 * half)
                for (int k = j; k < j + half; ++k) {
                    const float a = v[k], b = v[k + half];
                    v[k] = a + b;
                    v[k + half] = a - b;
                }
        for (int l = 0; l < kLines; ++l)
            s.line[l].write(detail::flushTiny((v[l] + kInputSigns[l] * diffused) * kInvSqrtLines));

        const float reverb = s.lowShelf.run(s.highCut.run(s.earlyLevel * early + late));
        wet += wetStep;
        out[i] = x + wet * reverb;
    }
    s.currentWet = s.targetWet;
}

}  // namespace parlune::audiolib::fx
