// Synthesis of the human morph: re-timing the grains for the new pitch,
// overlap-adding them and merging the result into the pending tail.
#include <algorithm>
#include <cmath>

#include "voice/human_stages.h"
#include "voice/kernels.h"

namespace parlune::voice::human {

int GrainRetimer(const int* kept, int count, const double* grains, const double* amplitudes, int h,
                 double pitchFactor, RetimerScratch& w, int* newMarks, double* newGrains,
                 double* newAmplitudes) {
    // The first period is counted twice.
    w.periods[0] = kept[1] - kept[0];
    for (int k = 1; k < count; ++k) w.periods[k] = kept[k] - kept[k - 1];

    const double wanted = std::trunc(std::ceil(count / pitchFactor) + 1.0);
    const int newCount = static_cast<int>(std::min(wanted, double(kMaxNewGrains)));

    linspace(0.0, 1.0, count, w.oldGrid);
    linspace(0.0, 1.0, newCount, w.newGrid);

    interpOnGrid(w.oldGrid, w.periods, count, w.newGrid, newCount, w.newPeriods);
    int position = 0;
    for (int j = 0; j < newCount; ++j) {
        position += static_cast<int>(std::lround(w.newPeriods[j] * pitchFactor));
        newMarks[j] = position;
    }

    // Each new grain blends the two old grains around its place on the grid.
    int i = 0;
    for (int j = 0; j < newCount; ++j) {
        const double v = w.newGrid[j];
        while (i < count - 2 && v > w.oldGrid[i + 1]) ++i;
        const double offset = v - w.oldGrid[i];
        const double width = w.oldGrid[i + 1] - w.oldGrid[i];
        const double* lower = grains + i * kGrainRowLength;
        const double* upper = lower + kGrainRowLength;
        double* row = newGrains + j * kGrainRowLength;
        for (int k = 0; k <= 2 * h; ++k) row[k] = lower[k] + (upper[k] - lower[k]) * offset / width;
    }

    interpOnGrid(w.oldGrid, amplitudes, count, w.newGrid, newCount, newAmplitudes);
    return newCount;
}

int OverlapAdder(const int* newMarks, int newCount, const double* newGrains, int h,
                 const double* newAmplitudes, double* correction, double* out) {
    const int spacing = static_cast<int>(
        std::lround(double(newMarks[newCount - 1] - newMarks[0]) / (newCount - 1)));

    if (spacing < h) {
        // Grains packed more than two to one: a narrower sine window of
        // 2 * spacing + 1 samples replaces the analysis window.
        for (int k = 0; k <= 2 * h; ++k) {
            correction[k] = (k >= h - spacing && k <= h + spacing)
                                ? std::sin(M_PI * (k - h + spacing) / (2 * spacing)) /
                                      std::sin(M_PI * k / (2 * h))
                                : 0.0;
        }
    } else {
        for (int k = 0; k <= 2 * h; ++k)
            correction[k] = (1.0 - 0.7) + 0.7 * std::sin(M_PI * k / (2 * h));
    }

    std::fill(out, out + kOverlapCapacity, 0.0);
    for (int j = 0; j < newCount; ++j) {
        const double* grain = newGrains + j * kGrainRowLength;
        for (int k = 0; k <= 2 * h; ++k) {
            // Samples before the buffer start gather at index 0, where the
            // merge weight of the new part is still 0.
            const int index = std::max(newMarks[j] - h + k, 0);
            if (index < kOverlapCapacity) out[index] += grain[k] * newAmplitudes[j] * correction[k];
        }
    }
    return std::min(newMarks[newCount - 1] + h, kMaxOverlapLength);
}

int32_t TailMerger(const double* overlapAdded, int len, double* tail, int32_t tailLength, int n,
                   double* out, MergeScratch& w) {
    const int s = tailLength;
    // Align the strongest new sample with the strongest pending one.
    const int from = 2 * n - s;
    const int r1 = argmaxFirst(overlapAdded, from, len) - from;
    const int r2 = argmaxFirst(tail, 0, r1);
    const int mergedLength = 2 * n + r1 - r2;
    const int newStart =
        mergedLength - len;  // the new part's last sample lands on mergedLength - 1

    for (int k = 0; k < mergedLength; ++k) {
        w.oldTail[k] = k < s ? tail[k] : 0.0;
        w.placedNew[k] = k >= newStart ? overlapAdded[k - newStart] : 0.0;
    }

    // Linear crossfade from newStart to s - 1; without room for a ramp the
    // new part takes over at s - 1 (never a 0/0 weight).
    const int rampSteps = s - 1 - newStart;
    for (int k = 0; k < mergedLength; ++k) w.weights[k] = k < s - 1 ? 0.0 : 1.0;
    if (rampSteps > 0) {
        const double step = 1.0 / rampSteps;
        double weight = 0.0;
        for (int k = newStart; k < s - 1; ++k) {
            w.weights[k] = weight;
            weight += step;
        }
    }

    double* merged = w.oldTail;  // merged in place, sample by sample
    for (int k = 0; k < mergedLength; ++k)
        merged[k] = (1.0 - w.weights[k]) * w.oldTail[k] + w.weights[k] * w.placedNew[k];

    std::copy(merged, merged + n, out);
    std::copy(merged + n, merged + mergedLength, tail);
    return std::min(mergedLength - n, kMaxTailLength);
}

}  // namespace parlune::voice::human
