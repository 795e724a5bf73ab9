// The stages of the human morph, in the order HumanMorph runs them: pitch
// analysis and marks, grains and formant scaling, re-timing, overlap-add and
// tail merge. Exposed for the morph and its tests; everything is double
// precision and works on caller-owned fixed arrays.
//
// Thread contract: plain functions without state or allocation; safe on any
// thread, the audio thread included.
#pragma once

#include <cstdint>

#include "voice/block.h"

namespace parlune::voice::human {

constexpr int kWindowLength = 3 * kBlockLength;
constexpr int kLagCurveCapacity = 4096;
constexpr int kGrainRowLength = 1024;
constexpr int kMaxHalfLength = kGrainRowLength / 2 - 1;  // the centred grain must fit its row
constexpr int kPassCapacity = 50;
constexpr int kMaxMarks = 150;
constexpr int kMaxKeptMarks = 50;
constexpr int kMaxNewGrains = 100;
constexpr int kOverlapCapacity = 4096;
constexpr int kMaxOverlapLength = 1500;
constexpr int kTailCapacity = 4096;
constexpr int kMinTailLength = kBlockLength;
constexpr int kMaxTailLength = 2 * kBlockLength;
constexpr int kBandPassTaps = 7;

// Pitch analysis window: lag search over X[512 .. 2559], marks over X[768 .. 2303].
constexpr int kLagSourceStart = 512;
constexpr int kLagSourceLength = 2048;
constexpr int kMarkSegmentStart = 768;
constexpr int kMarkSegmentLength = 1536;

// One period for the window: 1 + the first maximum of the magnitude
// autocorrelation of X[512 .. 2559] over lags 50 .. 319 (51 for silence).
int estimatePeriod(const double* window, double* lagCurve);

// One mark per period on waveform peaks over s[0 .. n-1], ascending; marks
// holds kMaxMarks. Returns the number of marks.
int PitchMarker(const double* segment, int n, int period, int* marks);

// The marks m + shift with lowest <= m + shift <= highest, in order (at most
// kMaxKeptMarks). Returns their count.
int selectMarks(const int* marks, int count, int shift, int lowest, int highest, int* kept);

// The fixed order-6 band-pass over the whole window, from rest. The histories
// hold kBandPassTaps - 1 + kWindowLength values.
void bandPass(const double* window, double* inputHistory, double* outputHistory, double* out);

// Cuts one sine-windowed grain of 2h + 1 samples per kept mark from the
// band-passed window into row i of grains (kGrainRowLength per row, zero
// beyond 2h), normalised by the floored mark value it records in amplitudes.
// h is the mean mark spacing; returns it, or 0 (nothing written) when there
// are fewer than two marks or the grain would not fit its row.
int extractGrains(const double* bandPassed, const int* kept, int count, double* grains,
                  double* amplitudes, double* sineWindow);

// Working arrays of the spectral step, kGrainRowLength each.
struct SpectralScratch {
    double re[kGrainRowLength];
    double im[kGrainRowLength];
    double logMagnitude[kGrainRowLength];
    double phase[kGrainRowLength];
    double tilt[kGrainRowLength];
    double remainder[kGrainRowLength];
    double warpedRemainder[kGrainRowLength];
    double warpedPhase[kGrainRowLength];
    double frequencyGrid[kGrainRowLength];
    double shifted[kGrainRowLength];
};

// Rotates a grain row so its centre h is sample 0, and back (the way back
// drops everything beyond 2h).
void centreGrain(double* row, int h, double* scratch);
void uncentreGrain(double* row, int h, double* scratch);

// Scales the detrended log-magnitude and the unwrapped phase of each centred
// row along frequency (read at the axis values on the grid 0 .. 2; the axis
// must be ascending and within 0 .. 2). In place. A row without energy passes
// through unchanged; other magnitudes are floored far below the row's
// strongest bin so the log stays finite.
void GrainFormantShifter(double* grains, int count, const double* formantAxis,
                         SpectralScratch& scratch);

// Centre shift, formant scaling and inverse shift of every grain.
void shapeGrains(double* grains, int count, int h, const double* formantAxis,
                 SpectralScratch& scratch);

struct RetimerScratch {
    double periods[kMaxKeptMarks];
    double oldGrid[kMaxKeptMarks];
    double newGrid[kMaxNewGrains];
    double newPeriods[kMaxNewGrains];
};

// New mark positions spaced by the measured periods times q, and new grains
// and amplitudes interpolated along the grain index. Returns the new count
// (at most kMaxNewGrains).
int GrainRetimer(const int* kept, int count, const double* grains, const double* amplitudes, int h,
                 double pitchFactor, RetimerScratch& scratch, int* newMarks, double* newGrains,
                 double* newAmplitudes);

// Lays the new grains at the new marks into out (kOverlapCapacity values,
// zeroed here) through the correction window; returns the useful length
// (at most kMaxOverlapLength).
int OverlapAdder(const int* newMarks, int newCount, const double* newGrains, int h,
                 const double* newAmplitudes, double* correction, double* out);

struct MergeScratch {
    double oldTail[kTailCapacity];
    double placedNew[kTailCapacity];
    double weights[kTailCapacity];
};

// Crossfades the overlap-add result into the pending tail, writes the first
// n merged samples to out and keeps the rest as the tail. Returns the new
// tail length (kMinTailLength .. kMaxTailLength for a tail length in that
// range and len <= kMaxOverlapLength).
int32_t TailMerger(const double* overlapAdded, int len, double* tail, int32_t tailLength, int n,
                   double* out, MergeScratch& scratch);

}  // namespace parlune::voice::human
