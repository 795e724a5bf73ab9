#include "voice/human_morph.h"

#include <algorithm>
#include <cmath>

namespace parlune::voice {

using namespace human;

namespace {

// The last grid value of the formant scaling: axis values above it would read
// past the frequency grid.
constexpr double kHighestAxisValue = 2.0;

double boundedPitchFactor(double q) {
    if (std::isnan(q)) return 1.0;
    return std::clamp(q, kLowestPitchFactor, kHighestPitchFactor);
}

}  // namespace

int32_t HumanMorph(const double* analysisWindow, int windowLength, int lowestMark, int highestMark,
                   double* tail, int32_t tailLength, double pitchFactor, const double* formantAxis,
                   double* outputBlock, HumanWorkspace& work) {
    const int32_t pending = std::clamp<int32_t>(tailLength, kMinTailLength, kMaxTailLength);
    int overlapLength = 0;  // no new grains unless the block yields them (then nothing is read)

    if (windowLength == kWindowLength) {
        for (int k = 0; k < kWindowLength; ++k)
            work.window[k] = std::isfinite(analysisWindow[k]) ? analysisWindow[k] : 0.0;
        for (int k = 0; k < kAxisLength; ++k) {
            const double r = formantAxis[k];
            work.formantAxis[k] = r > 0.0 ? std::min(r, kHighestAxisValue) : 0.0;
        }
        const double q = boundedPitchFactor(pitchFactor);

        const int period = estimatePeriod(work.window, work.lagCurve);
        const int markCount =
            PitchMarker(work.window + kMarkSegmentStart, kMarkSegmentLength, period, work.marks);
        const int kept = selectMarks(work.marks, markCount, kMarkSegmentStart, lowestMark,
                                     highestMark, work.keptMarks);
        bandPass(work.window, work.inputHistory, work.outputHistory, work.bandPassed);

        const int h = extractGrains(work.bandPassed, work.keptMarks, kept, work.grains,
                                    work.amplitudes, work.sineWindow);
        if (h > 0) {
            shapeGrains(work.grains, kept, h, work.formantAxis, work.spectral);
            const int newCount =
                GrainRetimer(work.keptMarks, kept, work.grains, work.amplitudes, h, q, work.retimer,
                             work.newMarks, work.newGrains, work.newAmplitudes);
            overlapLength = OverlapAdder(work.newMarks, newCount, work.newGrains, h,
                                         work.newAmplitudes, work.correction, work.overlapAdded);
        }
    }

    return TailMerger(work.overlapAdded, overlapLength, tail, pending, kBlockLength, outputBlock,
                      work.merge);
}

}  // namespace parlune::voice
