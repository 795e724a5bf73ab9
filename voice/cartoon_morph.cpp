#include "voice/cartoon_morph.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "voice/kernels.h"

namespace parlune::voice {
namespace {

constexpr int kAnalysisOrder = 20;
// The analysis fit sees white noise 40 dB below the block. Without it, a band
// the input leaves empty (the top of the band after any resampling to 16 kHz,
// half of it from a headset's 8 kHz microphone) is whitened up to the level of
// the speech: the residual carries the empty band's noise at full level, and
// formants warped upwards put gain over it. The voice came out up to twice as
// loud, hissing, with samples lost to the guard, and its pitch read an octave
// up on some voices; how much depended on the dither in the empty band.
constexpr float kAnalysisNoiseFloor = 1e-4f;
constexpr int kSynthesisOrder = 40;
constexpr int kImpulseLength = 2 * kBlockLength;
constexpr int kLongestPeriod = 200;
constexpr int kPeakExclusion = 32;
// Pending samples stay below one period (200) in steady state; the bound only
// keeps a damaged state from walking off the working arrays.
constexpr int kMaxPending = 2048;

}  // namespace

void WarpMap(float f, int length, float* map) {
    if (length < 1) return;
    if (length == 1) {
        map[0] = 0.0f;
        return;
    }
    const float last = static_cast<float>(length - 1);
    // The map's abscissa: 0 .. 1 by repeated addition (its last value is
    // replaced below anyway).
    linspace(0.0f, 1.0f, length, map);
    const double f64 = f;
    if (f64 <= -0.01) {
        const float beta = -f;
        const float l = static_cast<float>(std::log(static_cast<double>(beta) + 1.0));
        for (int n = 0; n < length; ++n) {
            const float bent =
                static_cast<float>(std::log(static_cast<double>(beta * map[n] + 1.0f)));
            map[n] = bent / l * last;
        }
    } else {
        const float alpha = f64 >= 0.01 ? f : 0.01f;  // also NaN: the near-diagonal curve
        const float l = static_cast<float>(std::log(static_cast<double>(alpha) + 1.0));
        for (int n = 0; n < length; ++n) {
            const float grown = static_cast<float>(std::exp(static_cast<double>(l * map[n])));
            map[n] = (grown - 1.0f) / alpha * last;
        }
    }
    map[length - 1] = last;
}

int LpcEnvelopeWarper(const float* input, const float* window, const float* warpMap,
                      CartoonMorphState& state, float* y) {
    constexpr int n = kBlockLength;
    float one[1] = {1.0f};

    float windowed[n];
    for (int k = 0; k < n; ++k) windowed[k] = input[k] * window[k];
    // Unfilled coefficients stay 0: a failed fit is the trivial polynomial 1.
    float analysis[64] = {};
    lpcCoefficients(windowed, n, kAnalysisOrder, analysis, kAnalysisNoiseFloor);

    // Log envelope of the order-20 model (no gain), split into a straight
    // tilt and the detrended remainder that gets warped.
    float logEnvelope[n];
    freqzMagnitude(one, 1, analysis, kAnalysisOrder + 1, n, logEnvelope);
    for (int k = 0; k < n; ++k)
        logEnvelope[k] = static_cast<float>(std::log(static_cast<double>(logEnvelope[k])));
    float tilt[n], remainder[n];
    linearDetrend(logEnvelope, n, tilt, remainder);

    // Residual of the unwindowed block, continuous through the input history.
    float inputHistory[kAnalysisOrder + n];
    std::memcpy(inputHistory, state.analysisInputHistory, sizeof(float) * kAnalysisOrder);
    float scratch[n];
    float residual[n];
    filterWithHistory(input, n, analysis, kAnalysisOrder + 1, one, 1, inputHistory, scratch,
                      residual);
    std::memcpy(state.analysisInputHistory, input + n - kAnalysisOrder,
                sizeof(float) * kAnalysisOrder);

    float warped[n];
    interpAtPositions(remainder, n, warpMap, n, warped);
    float magnitude[n];
    for (int k = 0; k < n; ++k)
        magnitude[k] = static_cast<float>(std::exp(static_cast<double>(tilt[k] + warped[k])));
    static constexpr float kLowBinTaper[7] = {0.1f, 0.1f, 0.1f, 0.2f, 0.5f, 0.8f, 0.9f};
    for (int k = 0; k < 7; ++k) magnitude[k] *= kLowBinTaper[k];

    // The zero-phase impulse, centred by swapping its halves (peak at n).
    float centred[kImpulseLength];
    zeroPhaseImpulse(magnitude, n, centred);
    std::swap_ranges(centred, centred + n, centred + n);
    float synthesis[64] = {};
    // The plain fit sometimes meets a reflection coefficient >= 1 and its
    // all-pole filter blows up (a whole block lost to the guard); the stable
    // variant keeps the highest order that is still safe.
    lpcCoefficientsStable(centred, kImpulseLength, kSynthesisOrder, synthesis, nullptr);

    float outputHistory[kSynthesisOrder + n];
    std::memcpy(outputHistory, state.synthesisOutputHistory, sizeof(float) * kSynthesisOrder);
    filterWithHistory(residual, n, one, 1, synthesis, kSynthesisOrder + 1, scratch, outputHistory,
                      y);

    int guarded = 0;
    for (int k = 0; k < n; ++k) {
        if (y[k] > 1.0f || y[k] < -1.0f || std::isnan(y[k])) {
            y[k] = 0.0f;
            ++guarded;
        }
    }
    // The recursion restarts from the guarded samples next block.
    std::memcpy(state.synthesisOutputHistory, y + n - kSynthesisOrder,
                sizeof(float) * kSynthesisOrder);
    return guarded;
}

int CartoonResample(const float* y, float p, float* z) {
    const float quotient = static_cast<float>(kBlockLength) / p;
    const int m = static_cast<int>(static_cast<float>(std::ceil(static_cast<double>(quotient))));
    float positions[2 * kBlockLength];
    const float step = static_cast<float>(kBlockLength - 1) / static_cast<float>(m - 1);
    positions[0] = 0.0f;
    for (int i = 1; i < m; ++i) positions[i] = positions[i - 1] + step;
    interpAtPositions(y, kBlockLength, positions, m, z);
    return m;
}

int splicePeriod(const float* b, int l) {
    const int first = peakIndexExcluding(b, l, 0, 0);
    const int second = peakIndexExcluding(b, l, first - kPeakExclusion, first + kPeakExclusion);
    const int period = std::abs(first - second);
    return period > kLongestPeriod ? kLongestPeriod : period;
}

int spliceByCount(const float* b, int l, int count, bool extend, float* s) {
    if (count == 0) {
        // An exact copy: the crossfade of a signal with itself is not bit-exact.
        std::memcpy(s, b, sizeof(float) * l);
        return l;
    }
    const int d = l - count;
    // The crossfade ramp runs from 1 down to about 0 over d samples, by
    // repeated addition.
    const float step = d > 1 ? 1.0f / static_cast<float>(d - 1) : 0.0f;
    if (extend) {
        for (int i = 0; i < count; ++i) s[i] = b[i];
        float ramp = 1.0f;
        for (int j = 0; j < d; ++j) {
            s[count + j] = ramp * b[count + j] + (1.0f - ramp) * b[j];
            ramp -= step;
        }
        for (int m = 0; m < count; ++m) s[l + m] = b[d + m];
        return l + count;
    }
    float ramp = 1.0f;
    for (int j = 0; j < d; ++j) {
        s[j] = ramp * b[j] + (1.0f - ramp) * b[count + j];
        ramp -= step;
    }
    return d;
}

void PeriodSplicer(const float* z, int m, int n, float* output, CartoonMorphState& state) {
    int pending = state.pendingLength;
    if (pending < 0) pending = 0;
    if (pending > kMaxPending) pending = kMaxPending;

    float joined[kMaxKernelLength] = {};
    std::memcpy(joined, state.pendingOutput, sizeof(float) * pending);
    std::memcpy(joined + pending, z, sizeof(float) * m);
    const int l = pending + m;

    int period = splicePeriod(joined, l);
    // Only a buffer with nothing above -1 has no period; splicing the longest
    // period then still fills the block where dividing by 0 could not.
    if (period < 1) period = kLongestPeriod;

    const bool extend = n > m;
    float deficit = static_cast<float>(n - l);
    if (extend ? deficit < 0.0f : deficit > 0.0f) deficit = 0.0f;
    const float periodF = static_cast<float>(period);
    const int periods =
        std::abs(static_cast<int>(std::ceil(static_cast<double>(deficit / periodF))));
    const float available = static_cast<float>(l) / periodF;
    const float limited =
        static_cast<float>(periods) < available ? static_cast<float>(periods) : available;
    const int count = static_cast<int>(periodF * limited);

    float spliced[kMaxKernelLength];
    const int length = spliceByCount(joined, l, count, extend, spliced);

    // The splice always reaches n samples for p in 0.65 .. 1.7; the zero fill
    // only guards the arithmetic's corner cases.
    for (int i = 0; i < n; ++i) output[i] = i < length ? spliced[i] : 0.0f;
    const int left = length - n;
    state.pendingLength = left > 0 ? left : 0;
    if (left > 0) std::memcpy(state.pendingOutput, spliced + n, sizeof(float) * left);
}

void CartoonMorph(const float* input, int length, const float* window, float pitch,
                  const float* warpMap, CartoonMorphState& state, float* output) {
    if (length != kBlockLength) {
        if (length > 0 && output != input) std::memmove(output, input, sizeof(float) * length);
        return;
    }
    // A non-finite input sample would stay in the filter history; it reads as 0.
    float block[kBlockLength];
    for (int k = 0; k < kBlockLength; ++k) block[k] = std::isfinite(input[k]) ? input[k] : 0.0f;

    double p = pitch;
    if (std::isnan(p)) p = 1.0;
    float ratio = static_cast<float>(p);
    if (p > static_cast<double>(kCartoonPitchMax))
        ratio = kCartoonPitchMax;
    else if (p < static_cast<double>(kCartoonPitchMin))
        ratio = kCartoonPitchMin;

    float y[kBlockLength];
    LpcEnvelopeWarper(block, window, warpMap, state, y);
    float z[2 * kBlockLength];
    const int m = CartoonResample(y, ratio, z);
    PeriodSplicer(z, m, kBlockLength, output, state);
}

}  // namespace parlune::voice
