// Signal processing of the audio library's built-in effect units (echo,
// chorus, distortion, tremolo) and of the system reverb. Plain classes on mono
// float blocks; the audio library wraps them as DSP units and exposes their
// parameters by index.
//
// Common rules: the sample rate is fixed at construction, where every buffer
// is sized; process() allocates nothing, takes no lock and may run in place
// (in == out). Outputs stay finite and bounded for any finite input, and tiny
// values in recursive state are flushed to zero so no denormals build up.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace parlune::audiolib::fx {

// Description of one parameter, for a generic parameter interface.
struct ParameterInfo {
    const char* name;
    const char* unit;
    float minimum;
    float maximum;
    float defaultValue;
};

// Parameter values shared between a control thread and the mixer thread.
// Thread contract: set/get from any thread; values are atomics.
template <int Count>
class ParameterSet {
public:
    // `infos` is a static table of Count entries.
    explicit ParameterSet(const ParameterInfo* infos) : infos_(infos) {
        for (int i = 0; i < Count; ++i) values_[i].store(infos_[i].defaultValue);
    }
    static constexpr int count() { return Count; }
    const ParameterInfo* info(int index) const {
        return index >= 0 && index < Count ? &infos_[index] : nullptr;
    }
    // False, leaving the value as it was, for an unknown index, a non-finite
    // value or one outside the parameter's range.
    bool set(int index, float value) {
        const ParameterInfo* p = info(index);
        if (!p || !(value >= p->minimum && value <= p->maximum)) return false;
        values_[index].store(value, std::memory_order_relaxed);
        return true;
    }
    bool get(int index, float* value) const {
        if (!info(index) || !value) return false;
        *value = values_[index].load(std::memory_order_relaxed);
        return true;
    }
    float operator[](int index) const { return values_[index].load(std::memory_order_relaxed); }

private:
    const ParameterInfo* infos_;
    std::array<std::atomic<float>, Count> values_;
};

// Feedback delay. Output = dry * in + wet * line, where the line holds the
// input delayed by `delay` plus its own output times `feedback`: an impulse
// comes back at delay, 2 * delay, ... each repeat `feedback` times the last
// (100 % is held just below unity so the loop stays stable).
// Thread contract: process()/reset() on the mixer thread; parameters from any thread.
class EchoUnit {
public:
    enum Parameter { kDelay, kFeedback, kDryLevel, kWetLevel, kParameterCount };
    static constexpr float kMaxDelayMs = 5000.0f;

    explicit EchoUnit(int sampleRate);
    void process(const float* in, float* out, int frames);
    void reset();
    bool setParameterFloat(int index, float value) { return params_.set(index, value); }
    bool getParameterFloat(int index, float* value) const { return params_.get(index, value); }
    static const ParameterInfo* parameterInfo(int index);

private:
    int sampleRate_;
    ParameterSet<kParameterCount> params_;
    std::vector<float> line_;
    int writePos_ = 0;
};

// Three-voice chorus: the input mixed with copies read from a delay line
// whose length swings slowly around 20 ms, the voices a third of a cycle
// apart. Depth is the swing as a percentage of the centre delay.
// Thread contract: process()/reset() on the mixer thread; parameters from any thread.
class ChorusUnit {
public:
    enum Parameter { kMix, kRate, kDepth, kParameterCount };

    explicit ChorusUnit(int sampleRate);
    void process(const float* in, float* out, int frames);
    void reset();
    bool setParameterFloat(int index, float value) { return params_.set(index, value); }
    bool getParameterFloat(int index, float* value) const { return params_.get(index, value); }
    static const ParameterInfo* parameterInfo(int index);

private:
    int sampleRate_;
    ParameterSet<kParameterCount> params_;
    std::vector<float> line_;
    int writePos_ = 0;
    double lfoPhase_ = 0.0;  // cycles, in [0, 1)
};

// Memoryless soft clipper: y = (1 + k) x / (1 + k |x|), k = 2 L / (1 - L) for
// level L. Level 0 passes the signal unchanged; full scale stays full scale.
// Thread contract: process() on the mixer thread; parameters from any thread.
class DistortionUnit {
public:
    enum Parameter { kLevel, kParameterCount };

    explicit DistortionUnit(int sampleRate);
    void process(const float* in, float* out, int frames);
    void reset() {}
    bool setParameterFloat(int index, float value) { return params_.set(index, value); }
    bool getParameterFloat(int index, float* value) const { return params_.get(index, value); }
    static const ParameterInfo* parameterInfo(int index);

private:
    ParameterSet<kParameterCount> params_;
};

// Amplitude modulation by a low-frequency oscillator: gain = 1 - depth * (1 - v)
// with v in [0, 1]. Shape blends triangle (0) into sine (1); duty is the part
// of the cycle spent in the upper half; skew moves each half's peak earlier
// (-1) or later (+1); square flattens the wave towards a square one; phase
// offsets the oscillator in cycles. Spread offsets channels from each other
// and has no effect on a mono signal.
// Thread contract: process()/reset() on the mixer thread; parameters from any thread.
class TremoloUnit {
public:
    enum Parameter {
        kFrequency,
        kDepth,
        kShape,
        kSkew,
        kDuty,
        kSquare,
        kPhase,
        kSpread,
        kParameterCount
    };

    explicit TremoloUnit(int sampleRate);
    void process(const float* in, float* out, int frames);
    void reset();
    bool setParameterFloat(int index, float value) { return params_.set(index, value); }
    bool getParameterFloat(int index, float* value) const { return params_.get(index, value); }
    static const ParameterInfo* parameterInfo(int index);

    // Oscillator value v in [0, 1] at `phase` cycles for the given settings.
    static float oscillator(double phase, float shape, float skew, float duty, float square);

private:
    int sampleRate_;
    ParameterSet<kParameterCount> params_;
    double lfoPhase_ = 0.0;  // cycles, in [0, 1)
};

// The twelve reverb properties, in this order.
struct ReverbProperties {
    float decayTime;          // ms, late reverb decay to -60 dB (100 .. 20000)
    float earlyDelay;         // ms, dry signal to first reflection (0 .. 300)
    float lateDelay;          // ms, first reflection to late reverb (0 .. 100)
    float hfReference;        // Hz, where the HF decay ratio applies (20 .. 20000)
    float hfDecayRatio;       // %, decay time at hfReference over decayTime (10 .. 100)
    float diffusion;          // %, echo density of the late reverb's onset (0 .. 100)
    float density;            // %, modal density of the late reverb (0 .. 100)
    float lowShelfFrequency;  // Hz, corner of the wet low shelf (20 .. 1000)
    float lowShelfGain;       // dB, wet low shelf gain (-36 .. 12)
    float highCut;            // Hz, wet low-pass corner (20 .. 20000)
    float earlyLateMix;       // %, early reflections' level relative to the late reverb (0 .. 100)
    float wetLevel;           // dB, wet signal level; -80 or less is silence (-80 .. 20)
};

// Reverb switched off: silent wet signal.
constexpr ReverbProperties kReverbOff{1000, 7, 11, 5000, 100, 100, 100, 250, 0, 20, 96, -80};
// A large concert hall.
constexpr ReverbProperties kReverbConcertHall{3900, 20,  29, 5000, 70, 100,
                                              100,  250, 0,  5650, 80, -9.8f};

// The system reverb: early reflections from a tap delay line and a late part
// from an eight-line feedback delay network whose line gains follow the decay
// time, with HF damping in the loop and high cut and low shelf on the wet
// signal. process() adds the wet signal to the input.
// Thread contract: process()/reset() on the mixer thread; setProperties/getProperties from any
// thread.
class SystemReverb {
public:
    explicit SystemReverb(int sampleRate);
    ~SystemReverb();
    SystemReverb(const SystemReverb&) = delete;
    SystemReverb& operator=(const SystemReverb&) = delete;
    // Values are clamped to the ranges above; non-finite ones are rejected (false).
    bool setProperties(const ReverbProperties& properties);
    ReverbProperties getProperties() const;
    void process(const float* in, float* out, int frames);
    void reset();

private:
    struct State;
    int sampleRate_;
    std::array<std::atomic<float>, 12> properties_;
    std::atomic<uint32_t> generation_{0};
    std::unique_ptr<State> state_;  // delay lines and filters, touched only by the mixer thread
};

}  // namespace parlune::audiolib::fx
