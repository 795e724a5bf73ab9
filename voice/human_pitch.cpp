// Pitch analysis of the human morph: period estimate, pitch marks, mark
// selection and the band-pass the grains are cut from.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "voice/human_stages.h"
#include "voice/kernels.h"

namespace parlune::voice::human {
namespace {

constexpr int kLowestLag = 50;
constexpr int kLagSearchEnd = 320;  // lag 320 itself is not searched
// A measured mark distance is trusted only strictly inside these bounds.
constexpr int kShortestDistance = 50;
constexpr int kLongestDistance = 320;

struct PassStep {
    int mark;
    int distance;  // the step to the next search centre
};

// Searches for the strongest sample within d of centre (clipped to the
// segment; an empty range yields its lower end) and accepts it when its
// distance from prev is plausible; otherwise keeps the rhythm of T.
PassStep nextMark(const double* s, int n, int centre, int d, int prev, int period, int direction) {
    const int lo = std::max(centre - d, 0);
    const int hi = std::min(n - 1, centre + d);
    const int m = argmaxFirst(s, lo, hi + 1);
    const int distance = std::abs(m - prev);
    if (distance > kShortestDistance && distance < kLongestDistance) return {m, distance};
    return {prev + direction * period, period};
}

}  // namespace

int estimatePeriod(const double* window, double* lagCurve) {
    magnitudeAutocorrelation(window + kLagSourceStart, kLagSourceLength, lagCurve);
    return argmaxFirst(lagCurve, kLowestLag, kLagSearchEnd) + 1;
}

int PitchMarker(const double* s, int n, int period, int* marks) {
    const int d = static_cast<int>(std::lround(period / 5.0));
    const int p0 = argmaxFirst(s, 0, n);

    int backward[kPassCapacity];
    int backwardCount = 0;
    int prev = p0;
    int centre = p0 - period;
    do {
        const PassStep step = nextMark(s, n, centre, d, prev, period, -1);
        prev = step.mark;
        backward[backwardCount++] = prev;
        centre = prev - step.distance;
    } while (centre >= 0 && backwardCount < kPassCapacity);

    int forward[kPassCapacity];
    int forwardCount = 0;
    prev = p0;
    centre = p0 + period;
    do {
        const PassStep step = nextMark(s, n, centre, d, prev, period, +1);
        prev = step.mark;
        forward[forwardCount++] = prev;
        centre = prev + step.distance;
    } while (centre < n - 1 && forwardCount < kPassCapacity);

    // The last record of each pass is where the search left the segment.
    int count = 0;
    for (int i = backwardCount - 2; i >= 0; --i) marks[count++] = backward[i];
    marks[count++] = p0;
    for (int i = 0; i < forwardCount - 1; ++i) marks[count++] = forward[i];
    return count;
}

int selectMarks(const int* marks, int count, int shift, int lowest, int highest, int* kept) {
    int keptCount = 0;
    for (int i = 0; i < count && keptCount < kMaxKeptMarks; ++i) {
        const int m = marks[i] + shift;
        if (m >= lowest && m <= highest) kept[keptCount++] = m;
    }
    return keptCount;
}

void bandPass(const double* window, double* inputHistory, double* outputHistory, double* out) {
    // Unity gain from about 300 Hz to 5 kHz at 16 kHz. The kernel normalises
    // the coefficients in place, so they are copied fresh for every block.
    double b[kBandPassTaps] = {0.3662, 0.0, -1.0985, 0.0, 1.0985, 0.0, -0.3662};
    double a[kBandPassTaps] = {1.0, -1.5138, -0.1975, 0.5108, 0.56, -0.2251, -0.1314};
    std::fill(inputHistory, inputHistory + kBandPassTaps - 1, 0.0);
    std::fill(outputHistory, outputHistory + kBandPassTaps - 1, 0.0);
    filterWithHistory(window, kWindowLength, b, kBandPassTaps, a, kBandPassTaps, inputHistory,
                      outputHistory, out);
}

}  // namespace parlune::voice::human
