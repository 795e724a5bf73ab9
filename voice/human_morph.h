// The human voice morph: a pitch-synchronous grain method. It finds pitch
// marks in the middle block of a three-block analysis window, cuts two-period
// grains around them, scales each grain's spectral envelope along frequency,
// re-times the grains for the new pitch, overlap-adds them and merges the
// result into the output still pending from the previous block.
//
// Thread contract: HumanMorph runs on the audio thread and allocates nothing;
// it touches only its arguments, so one state and one workspace per caller.
// It needs about 65 KiB of stack, for the pitch estimate's transform
// (measured: see morph_unit.h).
#pragma once

#include <cstdint>

#include "voice/human_stages.h"

namespace parlune::voice {

// Carried from block to block for the whole process, never reset.
struct HumanMorphState {
    double analysisWindow[human::kWindowLength] = {};  // last three blocks, oldest first
    double tail[human::kTailCapacity] = {};            // synthesised, not yet delivered
    int32_t tailLength = kBlockLength;                 // so the first block fades in
    double outputBlock[kBlockLength] = {};
};

// Every working array of one HumanMorph call, preallocated so the call itself
// allocates nothing. About 1.6 MB: keep it static or on the heap, not on a
// thread's stack.
struct HumanWorkspace {
    double window[human::kWindowLength];  // the analysis window with non-finite samples read as 0
    double formantAxis[kAxisLength];      // the axis bounded to the frequency grid
    double lagCurve[human::kLagCurveCapacity];
    int marks[human::kMaxMarks];
    int keptMarks[human::kMaxKeptMarks];
    double bandPassed[human::kWindowLength];
    double inputHistory[human::kBandPassTaps - 1 + human::kWindowLength];
    double outputHistory[human::kBandPassTaps - 1 + human::kWindowLength];
    double sineWindow[human::kGrainRowLength];
    double amplitudes[human::kMaxKeptMarks];
    double grains[human::kMaxKeptMarks * human::kGrainRowLength];
    human::SpectralScratch spectral;
    human::RetimerScratch retimer;
    int newMarks[human::kMaxNewGrains];
    double newGrains[human::kMaxNewGrains * human::kGrainRowLength];
    double newAmplitudes[human::kMaxNewGrains];
    double correction[human::kGrainRowLength];
    double overlapAdded[human::kOverlapCapacity];
    human::MergeScratch merge;
};

// The pitch factor the grain lists are sized for (0.65f and 1.7f widened).
constexpr double kLowestPitchFactor = static_cast<double>(0.65f);
constexpr double kHighestPitchFactor = static_cast<double>(1.7f);

// Morphs the middle block of the window (marks lowestMark .. highestMark),
// writes 1024 samples to outputBlock, updates the tail and returns the new
// tail length, always within 1024 .. 2048. The output is always finite:
// non-finite window samples read as 0, zero grains pass through unchanged,
// the pitch factor is bounded to 0.65 .. 1.7 (NaN reads as 1), the formant
// axis to the grid 0 .. 2 (NaN reads as 0) and the incoming tail length to
// 1024 .. 2048. A window length other than 3072, or fewer than two kept
// marks, yields no new grains: the pending tail plays out.
int32_t HumanMorph(const double* analysisWindow, int windowLength, int lowestMark, int highestMark,
                   double* tail, int32_t tailLength, double pitchFactor, const double* formantAxis,
                   double* outputBlock, HumanWorkspace& work);

}  // namespace parlune::voice
