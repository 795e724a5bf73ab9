// Grains of the human morph: cutting two-period grains around the kept marks
// and scaling each grain's spectral envelope and phase along frequency.
#include <algorithm>
#include <cmath>

#include "voice/human_stages.h"
#include "voice/kernels.h"

namespace parlune::voice::human {
namespace {

// Marks whose band-passed value is at or below this (or NaN) divide their
// grain by it instead, so no grain is divided by a tiny or negative value.
constexpr double kAmplitudeFloor = 0.1;

// A grain whose strongest bin is below this carries no sound (exact zeros:
// the zero window after start, digital silence); its log magnitude would be
// -inf, so it passes through unchanged.
constexpr double kSilentGrainPeak = 1e-280;
// Other bins are floored this far below the strongest one (-240 dB), which
// keeps the log, the fitted tilt and exp() of the result finite.
constexpr double kRelativeMagnitudeFloor = 1e-12;

void shiftOneGrain(double* grain, const double* axis, SpectralScratch& w) {
    constexpr int n = kGrainRowLength;
    constexpr int half = n / 2;
    std::copy(grain, grain + n, w.re);
    std::fill(w.im, w.im + n, 0.0);
    fftRadix2(w.re, w.im, n);

    double peak = 0.0;
    for (int k = 0; k < n; ++k) {
        w.logMagnitude[k] = std::sqrt(w.re[k] * w.re[k] + w.im[k] * w.im[k]);
        peak = std::max(peak, w.logMagnitude[k]);
    }
    if (!(peak > kSilentGrainPeak)) return;
    const double floor = peak * kRelativeMagnitudeFloor;
    for (int k = 0; k < n; ++k) w.logMagnitude[k] = std::log(std::max(w.logMagnitude[k], floor));

    for (int k = 0; k < n; ++k) w.phase[k] = std::atan2(w.im[k], w.re[k]);
    unwrapPhase(w.phase, n);

    linearDetrend(w.logMagnitude, half + 1, w.tilt, w.remainder);
    for (int k = half + 1; k < n; ++k) w.remainder[k] = w.remainder[n - k];

    // Envelope remainder and phase read at about formant x the bin's frequency;
    // the tilt stays where it is.
    interpOnGrid(w.frequencyGrid, w.remainder, n, axis, half, w.warpedRemainder);
    w.warpedRemainder[half] = 0.0;
    double* magnitude = w.logMagnitude;  // the log magnitude is no longer needed
    for (int k = 0; k <= half; ++k) magnitude[k] = std::exp(w.tilt[k] + w.warpedRemainder[k]);
    for (int k = half + 1; k < n; ++k) magnitude[k] = magnitude[n - k];

    interpOnGrid(w.frequencyGrid, w.phase, n, axis, half, w.warpedPhase);
    for (int k = half + 1; k < n; ++k) w.warpedPhase[k] = -w.warpedPhase[n - k];

    w.warpedPhase[half] = M_PI;
    magnitude[half] = 0.0;

    for (int k = 0; k < n; ++k) {
        w.re[k] = magnitude[k] * std::cos(w.warpedPhase[k]);
        w.im[k] = magnitude[k] * std::sin(w.warpedPhase[k]);
    }
    ifftScaled(w.re, w.im, n);
    std::copy(w.re, w.re + n, grain);
}

}  // namespace

int extractGrains(const double* bandPassed, const int* kept, int count, double* grains,
                  double* amplitudes, double* sineWindow) {
    if (count < 2) return 0;
    const int h = (kept[count - 1] - kept[0]) / (count - 1);
    if (h < 1 || h > kMaxHalfLength) return 0;

    for (int k = 0; k <= 2 * h; ++k) sineWindow[k] = std::sin(M_PI * k / (2 * h));
    for (int i = 0; i < count; ++i) {
        double a = bandPassed[kept[i]];
        if (!(a > kAmplitudeFloor)) a = kAmplitudeFloor;
        amplitudes[i] = a;
        double* row = grains + i * kGrainRowLength;
        const double* source = bandPassed + kept[i] - h;
        for (int k = 0; k <= 2 * h; ++k) row[k] = source[k] * sineWindow[k] / a;
        std::fill(row + 2 * h + 1, row + kGrainRowLength, 0.0);
    }
    return h;
}

void centreGrain(double* row, int h, double* scratch) {
    constexpr int n = kGrainRowLength;
    std::fill(scratch, scratch + n, 0.0);
    for (int j = 0; j <= h; ++j) scratch[j] = row[h + j];
    for (int j = 1; j <= h; ++j) scratch[n - j] = row[h - j];
    std::copy(scratch, scratch + n, row);
}

void uncentreGrain(double* row, int h, double* scratch) {
    constexpr int n = kGrainRowLength;
    std::fill(scratch, scratch + n, 0.0);
    for (int j = 0; j <= h; ++j) scratch[h + j] = row[j];
    for (int j = 0; j < h; ++j) scratch[h - 1 - j] = row[n - 1 - j];
    std::copy(scratch, scratch + n, row);
}

void GrainFormantShifter(double* grains, int count, const double* formantAxis,
                         SpectralScratch& scratch) {
    // Grid value 1.0 is the Nyquist frequency, 2.0 the sampling rate.
    linspace(0.0, 2.0, kGrainRowLength, scratch.frequencyGrid);
    for (int i = 0; i < count; ++i)
        shiftOneGrain(grains + i * kGrainRowLength, formantAxis, scratch);
}

void shapeGrains(double* grains, int count, int h, const double* formantAxis,
                 SpectralScratch& scratch) {
    for (int i = 0; i < count; ++i) centreGrain(grains + i * kGrainRowLength, h, scratch.shifted);
    GrainFormantShifter(grains, count, formantAxis, scratch);
    for (int i = 0; i < count; ++i) uncentreGrain(grains + i * kGrainRowLength, h, scratch.shifted);
}

}  // namespace parlune::voice::human
