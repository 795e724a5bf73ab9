#include "voice/human_morph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "tests/support/test_support.h"
#include "voice/kernels.h"

namespace parlune::voice {
namespace {

using namespace human;

constexpr int kRate = 16000;

std::vector<double> widen(const std::vector<float>& x) { return {x.begin(), x.end()}; }

bool allFinite(const double* x, int n) {
    return std::all_of(x, x + n, [](double v) { return std::isfinite(v); });
}

// Feeds a signal block by block the way the morph unit does: the window
// shifts one block left and the new block goes to its end.
class MorphRunner {
public:
    explicit MorphRunner(double formant = 1.0) { setFormant(formant); }

    void setFormant(double formant) { linspace(0.0, formant, kAxisLength, axis); }

    void block(const float* in, double q) {
        std::copy(state->analysisWindow + kBlockLength, state->analysisWindow + kWindowLength,
                  state->analysisWindow);
        std::copy(in, in + kBlockLength, state->analysisWindow + 2 * kBlockLength);
        state->tailLength =
            HumanMorph(state->analysisWindow, kWindowLength, 1024, 2047, state->tail,
                       state->tailLength, q, axis, state->outputBlock, *work);
    }

    std::vector<float> run(const std::vector<float>& in, double q) {
        std::vector<float> out;
        for (size_t at = 0; at + kBlockLength <= in.size(); at += kBlockLength) {
            block(in.data() + at, q);
            outputFinite = outputFinite && allFinite(state->outputBlock, kBlockLength);
            out.insert(out.end(), state->outputBlock, state->outputBlock + kBlockLength);
        }
        return out;
    }

    std::unique_ptr<HumanMorphState> state = std::make_unique<HumanMorphState>();
    std::unique_ptr<HumanWorkspace> work = std::make_unique<HumanWorkspace>();
    double axis[kAxisLength];
    bool outputFinite = true;  // checked in double, before any conversion to float
};

std::vector<float> withoutFirst(const std::vector<float>& x, size_t skip) {
    return {x.begin() + skip, x.end()};
}

std::vector<float> tone(int length, double periodSamples, double phase) {
    std::vector<float> x(length);
    for (int k = 0; k < length; ++k)
        x[k] = static_cast<float>(0.5 * std::sin(2 * M_PI * k / periodSamples + phase));
    return x;
}

// ---------------------------------------------------------------- pitch analysis

TEST(HumanPitchAnalysis, PeriodIsOnePastTheLagOfTheStrongestRepetition) {
    struct Case {
        const char* name;
        std::vector<float> signal;
        std::vector<int> expectedPeriods;
    };
    const std::vector<Case> cases = {
        {"voiced 64", test::voicedSignal(kWindowLength, 64), {65}},
        {"voiced 100", test::voicedSignal(kWindowLength, 100), {101}},
        {"voiced 200", test::voicedSignal(kWindowLength, 200), {201}},
        {"voiced 290", test::voicedSignal(kWindowLength, 290), {291}},
        // A pure 100-sample tone peaks at lag 99 or 100 depending on its phase.
        {"tone 160 Hz", test::sine(kWindowLength, 160.0, kRate), {100, 101}},
        {"tone 160 Hz, later phase", tone(kWindowLength, 100.0, 2.0), {100, 101}},
        {"silence", std::vector<float>(kWindowLength, 0.0f), {51}},
    };
    std::vector<double> lagCurve(kLagCurveCapacity);
    for (const Case& c : cases) {
        const std::vector<double> window = widen(c.signal);
        const int period = estimatePeriod(window.data(), lagCurve.data());
        EXPECT_TRUE(std::count(c.expectedPeriods.begin(), c.expectedPeriods.end(), period) == 1)
            << c.name << ": period " << period;
    }
}

TEST(HumanPitchAnalysis, MarksSitOnThePeaksOfAVoicedSignalOnePeriodApart) {
    for (int period : {64, 100, 160, 250}) {
        const std::vector<double> window = widen(test::voicedSignal(kWindowLength, period));
        std::vector<double> lagCurve(kLagCurveCapacity);
        const int estimate = estimatePeriod(window.data(), lagCurve.data());
        int marks[kMaxMarks];
        const double* segment = window.data() + kMarkSegmentStart;
        const int count = PitchMarker(segment, kMarkSegmentLength, estimate, marks);
        int kept[kMaxKeptMarks];
        const int keptCount = selectMarks(marks, count, kMarkSegmentStart, 1024, 2047, kept);

        ASSERT_GE(keptCount, 1024 / period - 1) << period;
        const int halfWidth = static_cast<int>(std::lround(estimate / 5.0));
        for (int i = 0; i < keptCount; ++i) {
            if (i > 0) {
                EXPECT_EQ(kept[i] - kept[i - 1], period) << period << " mark " << i;
            }
            const double* around = window.data() + kept[i] - halfWidth;
            EXPECT_EQ(std::max_element(around, around + 2 * halfWidth + 1) - around, halfWidth)
                << period << ": mark " << kept[i] << " is not on the local peak";
        }
    }
}

TEST(HumanPitchAnalysis, SilenceGetsMarksEvery51SamplesFromTheSegmentStart) {
    const std::vector<double> segment(kMarkSegmentLength, 0.0);
    int marks[kMaxMarks];
    const int count = PitchMarker(segment.data(), kMarkSegmentLength, 51, marks);
    ASSERT_EQ(count, 30);
    for (int i = 0; i < count; ++i) EXPECT_EQ(marks[i], 51 * i);
}

TEST(HumanPitchAnalysis, MarkDistancesOf50Or320AreRejectedAndTheRhythmOfThePeriodKept) {
    struct Case {
        int period;
        int offset;  // of the second peak after the strongest one
        int expectedMark;
    };
    const Case cases[] = {
        {60, 50, 200 + 60},    {60, 51, 200 + 51},    {60, 60, 200 + 60},
        {300, 320, 200 + 300}, {300, 319, 200 + 319},
    };
    for (const Case& c : cases) {
        std::vector<double> segment(kMarkSegmentLength, 0.0);
        segment[200] = 1.0;
        segment[200 + c.offset] = 0.5;
        int marks[kMaxMarks];
        const int count = PitchMarker(segment.data(), kMarkSegmentLength, c.period, marks);
        const int* p0 = std::find(marks, marks + count, 200);
        ASSERT_LT(p0 + 1, marks + count) << c.offset;
        EXPECT_EQ(p0[1], c.expectedMark) << "period " << c.period << ", peak at +" << c.offset;
    }
}

// What the grain stages rely on: marks ascending inside the segment, more
// than 50 and at most 320 apart, and at least two of them in the middle block.
TEST(HumanPitchAnalysis, MarksStayOrderedInsideTheSegmentForAnySignal) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<std::vector<float>> signals;
    for (int period : {51, 77, 130, 319, 320})
        signals.push_back(test::voicedSignal(kWindowLength, period));
    std::vector<float> white(kWindowLength), impulses(kWindowLength, 0.0f), chirp(kWindowLength);
    for (float& v : white) v = noise(random);
    impulses[900] = 1.0f;
    impulses[2100] = -1.0f;
    for (int k = 0; k < kWindowLength; ++k) chirp[k] = std::sin(2e-5 * k * k);
    signals.insert(signals.end(), {white, impulses, chirp, test::sine(kWindowLength, 51.0, kRate)});

    std::vector<double> lagCurve(kLagCurveCapacity);
    for (size_t n = 0; n < signals.size(); ++n) {
        const std::vector<double> window = widen(signals[n]);
        const int period = estimatePeriod(window.data(), lagCurve.data());
        int marks[kMaxMarks];
        const int count =
            PitchMarker(window.data() + kMarkSegmentStart, kMarkSegmentLength, period, marks);
        for (int i = 0; i < count; ++i) {
            EXPECT_GE(marks[i], 0) << "signal " << n;
            EXPECT_LT(marks[i], kMarkSegmentLength) << "signal " << n;
            if (i > 0) {
                EXPECT_GT(marks[i] - marks[i - 1], 50) << "signal " << n;
                EXPECT_LE(marks[i] - marks[i - 1], 320) << "signal " << n;
            }
        }
        int kept[kMaxKeptMarks];
        EXPECT_GE(selectMarks(marks, count, kMarkSegmentStart, 1024, 2047, kept), 2)
            << "signal " << n;
    }
}

TEST(HumanPitchAnalysis, BandPassStartsFromRestRemovesDcAndPassesTheVoiceBand) {
    std::vector<double> window(kWindowLength), out(kWindowLength), fromRest(kWindowLength);
    struct Case {
        double freqHz;
        double minGain, maxGain;
    };
    for (const Case& c : {Case{0.0, 0.0, 0.01}, Case{1000.0, 0.9, 1.1}, Case{3000.0, 0.9, 1.1}}) {
        for (int k = 0; k < kWindowLength; ++k)
            window[k] = std::cos(2 * M_PI * c.freqHz * k / kRate);
        std::vector<double> inputHistory(kBandPassTaps - 1 + kWindowLength, 0.0);
        std::vector<double> outputHistory = inputHistory;
        bandPass(window.data(), inputHistory.data(), outputHistory.data(), fromRest.data());
        // Histories left over from the last block must not leak in.
        std::fill(inputHistory.begin(), inputHistory.end(), 7.0);
        std::fill(outputHistory.begin(), outputHistory.end(), -7.0);
        bandPass(window.data(), inputHistory.data(), outputHistory.data(), out.data());
        EXPECT_EQ(out, fromRest) << c.freqHz;
        const double peak = *std::max_element(out.begin() + 2048, out.end());
        EXPECT_GE(peak, c.minGain) << c.freqHz;
        EXPECT_LE(peak, c.maxGain) << c.freqHz;
    }
}

// ---------------------------------------------------------------- grains

TEST(HumanGrains, GrainsSpanTwoMeanSpacingsAndAreNormalisedByTheFlooredMarkValue) {
    std::vector<double> bandPassed(kWindowLength, 0.0);
    for (int k = 0; k < kWindowLength; ++k) bandPassed[k] = 0.3 * std::sin(0.01 * k);
    const int marks[] = {1100, 1300};
    bandPassed[1100] = 0.05;  // below the floor
    bandPassed[1300] = 0.5;
    std::vector<double> grains(2 * kGrainRowLength, 9.0), amplitudes(2), window(kGrainRowLength);

    const int h =
        extractGrains(bandPassed.data(), marks, 2, grains.data(), amplitudes.data(), window.data());
    ASSERT_EQ(h, 200);
    EXPECT_EQ(amplitudes[0], 0.1);
    EXPECT_EQ(amplitudes[1], 0.5);
    for (int i = 0; i < 2; ++i) {
        const double* row = grains.data() + i * kGrainRowLength;
        EXPECT_DOUBLE_EQ(row[h], bandPassed[marks[i]] / amplitudes[i]);
        EXPECT_EQ(row[0], 0.0);
        EXPECT_EQ(row[2 * h], bandPassed[marks[i] + h] * window[2 * h] / amplitudes[i]);
        EXPECT_DOUBLE_EQ(row[50],
                         bandPassed[marks[i] - h + 50] * std::sin(M_PI * 50 / 400) / amplitudes[i]);
        EXPECT_TRUE(
            std::all_of(row + 2 * h + 1, row + kGrainRowLength, [](double v) { return v == 0; }));
    }
    EXPECT_EQ(
        extractGrains(bandPassed.data(), marks, 1, grains.data(), amplitudes.data(), window.data()),
        0);
}

class HumanGrainShaping : public ::testing::Test {
protected:
    void SetUp() override { linspace(0.0, 1.0, kAxisLength, unitAxis); }
    std::vector<double> voicedGrain(int h) {
        const std::vector<float> voiced = test::voicedSignal(2048, 2 * h);
        std::vector<double> row(kGrainRowLength, 0.0);
        for (int k = 0; k <= 2 * h; ++k) row[k] = voiced[1000 + k] * std::sin(M_PI * k / (2 * h));
        return row;
    }
    double unitAxis[kAxisLength];
    std::unique_ptr<SpectralScratch> scratch = std::make_unique<SpectralScratch>();
};

TEST_F(HumanGrainShaping, CentreShiftRoundTripsTheGrain) {
    const int h = 150;
    std::vector<double> row = voicedGrain(h);
    const std::vector<double> original = row;
    centreGrain(row.data(), h, scratch->shifted);
    EXPECT_EQ(row[0], original[h]);
    EXPECT_EQ(row[kGrainRowLength - h], original[0]);
    EXPECT_EQ(row[h], original[2 * h]);
    uncentreGrain(row.data(), h, scratch->shifted);
    EXPECT_EQ(row, original);
}

TEST_F(HumanGrainShaping, UnitFormantKeepsTheGrainNearlyAsItWas) {
    const int h = 160;
    std::vector<double> row = voicedGrain(h);
    const std::vector<double> original = row;
    shapeGrains(row.data(), 1, h, unitAxis, *scratch);
    double dot = 0, e1 = 0, e2 = 0;
    for (int k = 0; k < kGrainRowLength; ++k) {
        dot += row[k] * original[k];
        e1 += row[k] * row[k];
        e2 += original[k] * original[k];
    }
    EXPECT_GT(dot / std::sqrt(e1 * e2), 0.97);
    EXPECT_NEAR(std::sqrt(e1 / e2), 1.0, 0.15);
    EXPECT_TRUE(std::all_of(row.begin() + 2 * h + 1, row.end(), [](double v) { return v == 0; }));
}

TEST_F(HumanGrainShaping, ProcessedGrainsHaveNoNyquistAndStayFinite) {
    const int h = 120;
    std::vector<std::vector<double>> rows;
    rows.push_back(voicedGrain(h));
    centreGrain(rows.back().data(), h, scratch->shifted);
    std::vector<double> sparse(kGrainRowLength, 0.0);  // every odd bin exactly zero
    sparse[0] = 1.0;
    sparse[512] = 1.0;
    rows.push_back(sparse);
    for (double formant : {0.8, 1.0, 1.2, 2.0}) {
        double axis[kAxisLength];
        linspace(0.0, formant, kAxisLength, axis);
        for (size_t n = 0; n < rows.size(); ++n) {
            std::vector<double> row = rows[n];
            GrainFormantShifter(row.data(), 1, axis, *scratch);
            ASSERT_TRUE(allFinite(row.data(), kGrainRowLength))
                << "row " << n << ", formant " << formant;
            std::vector<double> re = row, im(kGrainRowLength, 0.0);
            fftRadix2(re.data(), im.data(), kGrainRowLength);
            double peak = 0;
            for (int k = 0; k < kGrainRowLength; ++k)
                peak = std::max(peak, std::hypot(re[k], im[k]));
            EXPECT_GT(peak, 0.0);
            EXPECT_LE(std::hypot(re[512], im[512]), 1e-9 * peak)
                << "row " << n << ", formant " << formant;
        }
    }
}

TEST_F(HumanGrainShaping, GrainsWithoutEnergyPassThroughUnchanged) {
    std::vector<double> rows(3 * kGrainRowLength, 0.0);
    rows[kGrainRowLength + 3] = 1e-300;  // far below anything audible, its log would not be finite
    rows[2 * kGrainRowLength + 7] = -4e-310;
    const std::vector<double> original = rows;
    for (double formant : {0.8, 1.2}) {
        double axis[kAxisLength];
        linspace(0.0, formant, kAxisLength, axis);
        GrainFormantShifter(rows.data(), 3, axis, *scratch);
        EXPECT_EQ(rows, original);
    }
}

// A formant above 1 reads the envelope from higher bins, so its peaks move
// down; below 1 they move up.
TEST_F(HumanGrainShaping, FormantScaleMovesTheEnvelopePeak) {
    const int h = 200;
    std::vector<double> row(kGrainRowLength, 0.0);
    for (int k = 0; k <= 2 * h; ++k)  // a decaying 2 kHz resonance
        row[k] = std::sin(M_PI * k / (2 * h)) * std::exp(-std::abs(k - h) / 25.0) *
                 std::cos(2 * M_PI * 2000.0 * (k - h) / kRate);
    auto peakHz = [&](double formant) {
        std::vector<double> grain = row;
        double axis[kAxisLength];
        linspace(0.0, formant, kAxisLength, axis);
        shapeGrains(grain.data(), 1, h, axis, *scratch);
        std::vector<double> im(kGrainRowLength, 0.0);
        fftRadix2(grain.data(), im.data(), kGrainRowLength);
        int best = 1;
        for (int k = 1; k < 512; ++k)
            if (std::hypot(grain[k], im[k]) > std::hypot(grain[best], im[best])) best = k;
        return best * double(kRate) / kGrainRowLength;
    };
    EXPECT_NEAR(peakHz(1.0), 2000.0, 60.0);
    EXPECT_NEAR(peakHz(1.25), 2000.0 / 1.25, 80.0);
    EXPECT_NEAR(peakHz(0.8), 2000.0 / 0.8, 100.0);
}

// ---------------------------------------------------------------- re-timing and overlap-add

TEST(HumanRetiming, NewGrainCountAndPeriodsFollowThePitchFactor) {
    struct Case {
        int count;
        double q;
        int expectedNewCount;
    };
    const Case cases[] = {{4, 1.0, 5}, {10, 0.65, 17}, {10, 1.7, 7}, {3, 1.0, 4}};
    const int h = 60;
    for (const Case& c : cases) {
        std::vector<int> kept(c.count);
        for (int i = 0; i < c.count; ++i) kept[i] = 1024 + 100 * i;
        std::vector<double> grains(c.count * kGrainRowLength, 0.0), amplitudes(c.count);
        for (int i = 0; i < c.count; ++i) {
            amplitudes[i] = 0.2 + 0.1 * i;
            std::fill(grains.begin() + i * kGrainRowLength,
                      grains.begin() + i * kGrainRowLength + 2 * h + 1, double(i));
        }
        auto scratch = std::make_unique<RetimerScratch>();
        std::vector<int> newMarks(kMaxNewGrains);
        std::vector<double> newGrains(kMaxNewGrains * kGrainRowLength),
            newAmplitudes(kMaxNewGrains);
        const int newCount =
            GrainRetimer(kept.data(), c.count, grains.data(), amplitudes.data(), h, c.q, *scratch,
                         newMarks.data(), newGrains.data(), newAmplitudes.data());
        ASSERT_EQ(newCount, c.expectedNewCount) << c.count << " at " << c.q;
        const int newPeriod = static_cast<int>(std::lround(100 * c.q));
        for (int j = 0; j < newCount; ++j) {
            EXPECT_EQ(newMarks[j], newPeriod * (j + 1)) << c.q;
            // Grains and amplitudes blend linearly along the grain index.
            const double place = (c.count - 1) * double(j) / (newCount - 1);
            EXPECT_NEAR(newGrains[j * kGrainRowLength + h], place, 1e-9);
            EXPECT_NEAR(newAmplitudes[j], 0.2 + 0.1 * place, 1e-9);
        }
    }
}

TEST(HumanOverlapAdd, CorrectionWindowDependsOnHowCloselyGrainsArePacked) {
    const int h = 100;
    std::vector<double> grains(3 * kGrainRowLength, 0.0), amplitudes = {1.0, 1.0, 1.0};
    std::vector<double> correction(kGrainRowLength), out(kOverlapCapacity);
    {  // spacing 150 >= h: a window that does not fall to zero
        const int marks[] = {150, 300, 450};
        EXPECT_EQ(OverlapAdder(marks, 3, grains.data(), h, amplitudes.data(), correction.data(),
                               out.data()),
                  550);
        EXPECT_EQ(correction[0], 0.30000000000000004);
        EXPECT_DOUBLE_EQ(correction[2 * h], correction[0]);
        EXPECT_DOUBLE_EQ(correction[h], 1.0);
    }
    {  // spacing 40 < h: a sine window of 81 samples on the same centre
        const int marks[] = {1200, 1240, 1280};
        for (int j = 0; j < 3; ++j)
            std::fill(grains.begin() + j * kGrainRowLength,
                      grains.begin() + j * kGrainRowLength + 2 * h + 1, 1.0);
        EXPECT_EQ(OverlapAdder(marks, 3, grains.data(), h, amplitudes.data(), correction.data(),
                               out.data()),
                  1280 + h);
        EXPECT_EQ(correction[h - 41], 0.0);
        EXPECT_EQ(correction[h + 41], 0.0);
        EXPECT_DOUBLE_EQ(correction[h], 1.0);
        EXPECT_DOUBLE_EQ(correction[h - 20], std::sin(M_PI * 20 / 80) / std::sin(M_PI * 80 / 200));
        EXPECT_DOUBLE_EQ(out[1240], correction[h] + correction[h - 40] + correction[h + 40]);
    }
    {  // samples before the buffer start fold onto index 0
        const int marks[] = {40, 190, 340};
        std::fill(grains.begin(), grains.end(), 0.0);
        grains[0] = 1.0;   // lands at 40 - 100
        grains[10] = 2.0;  // lands at -50
        OverlapAdder(marks, 3, grains.data(), h, amplitudes.data(), correction.data(), out.data());
        EXPECT_DOUBLE_EQ(out[0], correction[0] + 2.0 * correction[10]);
    }
}

// ---------------------------------------------------------------- tail merge

TEST(HumanTailMerge, CrossfadePlacementAndTailLength) {
    struct Case {
        const char* name;
        int tailLength;
        int len;
        int newPeak;  // index in the overlap-add result
        int oldPeak;  // index in the tail
        int expectedNewTail;
    };
    const Case cases[] = {
        {"ramp over the last 76 samples", 1024, 1100, 1024, 0, 1024},
        {"aligned peaks lengthen the tail", 1024, 1400, 1300, 100, 1024 + 276 - 100},
        {"capped at 2048", 2048, 1500, 1499, 0, 2048},
        {"no room for a ramp", 1024, 200, 150, 0, 1024},
        {"a ramp of one step", 1024, 1025, 1024, 0, 1024},
        {"no new grains", 1500, 0, 0, 0, 1024},
    };
    for (const Case& c : cases) {
        std::vector<double> overlap(kOverlapCapacity, 0.0), tailSamples(kTailCapacity, 0.0),
            out(kBlockLength);
        for (int k = 0; k < c.len; ++k) overlap[k] = 0.01 * std::sin(0.05 * k);
        for (int k = 0; k < c.tailLength; ++k) tailSamples[k] = 0.01 * std::cos(0.03 * k);
        if (c.len > 0) overlap[c.newPeak] = 1.0;
        tailSamples[c.oldPeak] = 1.0;
        const std::vector<double> oldTail = tailSamples;
        auto scratch = std::make_unique<MergeScratch>();

        const int32_t newTail = TailMerger(overlap.data(), c.len, tailSamples.data(), c.tailLength,
                                           kBlockLength, out.data(), *scratch);
        EXPECT_EQ(newTail, c.expectedNewTail) << c.name;
        ASSERT_TRUE(allFinite(out.data(), kBlockLength)) << c.name;

        const int r1 = c.len > 2048 - c.tailLength ? c.newPeak - (2048 - c.tailLength) : 0;
        const int mergedLength = 2048 + r1 - (r1 > 0 ? c.oldPeak : 0);
        const int newStart = mergedLength - c.len;
        const int rampSteps = c.tailLength - 1 - newStart;
        for (int k = 0; k < kBlockLength; ++k) {
            const double weight = k >= c.tailLength - 1 ? 1.0
                                  : k < newStart        ? 0.0
                                                        : double(k - newStart) / rampSteps;
            const double placed = k >= newStart ? overlap[k - newStart] : 0.0;
            const double old = k < c.tailLength ? oldTail[k] : 0.0;
            ASSERT_NEAR(out[k], (1 - weight) * old + weight * placed, 1e-12)
                << c.name << " at " << k;
        }
    }
}

// ---------------------------------------------------------------- the whole morph

TEST(HumanMorph, PitchFollowsThePitchFactorOverManyBlocks) {
    struct Case {
        double period;  // input, samples
        double q;
        double tolerance;  // relative, on the output F0
    };
    const Case cases[] = {
        {100, 0.65, 0.02}, {100, 1.0, 0.02}, {100, 1.7, 0.02}, {140, 0.65, 0.02}, {70, 1.7, 0.02},
    };
    for (const Case& c : cases) {
        const std::vector<float> input = test::voicedSignal(40 * kBlockLength, c.period);
        MorphRunner runner;
        const std::vector<float> out = withoutFirst(runner.run(input, c.q), 4 * kBlockLength);
        ASSERT_TRUE(runner.outputFinite);  // from the zero state at start on
        const double inputF0 = test::medianF0(input, kRate);
        const double outputF0 = test::medianF0(out, kRate, 50, 600);
        EXPECT_NEAR(outputF0 / (inputF0 / c.q), 1.0, c.tolerance)
            << "period " << c.period << ", q " << c.q << ": " << inputF0 << " Hz -> " << outputF0
            << " Hz";
    }
}

double spectralCentroid(const std::vector<float>& x, double loHz, double hiHz) {
    std::vector<double> power(kBlockLength / 2, 0.0);
    for (size_t at = 0; at + kBlockLength <= x.size(); at += kBlockLength / 2) {
        std::vector<double> re(kBlockLength), im(kBlockLength, 0.0);
        for (int k = 0; k < kBlockLength; ++k)
            re[k] = x[at + k] * (0.5 - 0.5 * std::cos(2 * M_PI * k / kBlockLength));
        fftRadix2(re.data(), im.data(), kBlockLength);
        for (int k = 0; k < kBlockLength / 2; ++k) power[k] += re[k] * re[k] + im[k] * im[k];
    }
    double weighted = 0, total = 0;
    for (int k = 0; k < kBlockLength / 2; ++k) {
        const double hz = k * double(kRate) / kBlockLength;
        if (hz < loHz || hz > hiHz) continue;
        weighted += hz * power[k];
        total += power[k];
    }
    return weighted / total;
}

TEST(HumanMorph, FormantScaleMovesTheSpectrumTheExpectedWay) {
    const std::vector<float> input = test::voicedSignal(30 * kBlockLength, 120);
    std::vector<double> centroids;
    for (double formant : {0.8, 1.0, 1.2}) {
        MorphRunner runner(formant);
        centroids.push_back(
            spectralCentroid(withoutFirst(runner.run(input, 1.0), 4 * kBlockLength), 300, 4000));
    }
    // Peaks move down for a formant above 1 and up below 1.
    EXPECT_GT(centroids[0], centroids[1] * 1.1);
    EXPECT_LT(centroids[2], centroids[1] / 1.1);
}

TEST(HumanMorph, FirstBlockAfterStartFadesInFromTheZeroTail) {
    MorphRunner runner;
    const std::vector<float> voiced = test::voicedSignal(kWindowLength, 100);
    std::copy(voiced.begin(), voiced.end(), runner.state->analysisWindow);
    const int32_t tailLength = HumanMorph(runner.state->analysisWindow, kWindowLength, 1024, 2047,
                                          runner.state->tail, runner.state->tailLength, 1.0,
                                          runner.axis, runner.state->outputBlock, *runner.work);
    const double* out = runner.state->outputBlock;
    // The new part starts at 548 at the earliest (merged length >= 2048, at
    // most 1500 new samples); before its ramp only the zero tail plays.
    EXPECT_TRUE(std::all_of(out, out + 548, [](double v) { return v == 0.0; }));
    const int firstSound = static_cast<int>(
        std::find_if(out, out + kBlockLength, [](double v) { return v != 0.0; }) - out);
    ASSERT_LT(firstSound, kBlockLength - 1);
    // The crossfade rises from silence: the first sounding stretch is quieter.
    double early = 0, late = 0;
    const int mid = (firstSound + kBlockLength) / 2;
    for (int k = firstSound; k < mid; ++k) early = std::max(early, std::abs(out[k]));
    for (int k = mid; k < kBlockLength; ++k) late = std::max(late, std::abs(out[k]));
    EXPECT_LT(early, late);
    EXPECT_GE(tailLength, kMinTailLength);
    EXPECT_LE(tailLength, kMaxTailLength);
}

TEST(HumanMorph, DoesNotGiveTheInputBackAtUnitPitchAndFormant) {
    const std::vector<float> input = test::voicedSignal(12 * kBlockLength, 100);
    MorphRunner runner;
    const std::vector<float> out = runner.run(input, 1.0);
    double difference = 0;
    for (size_t k = 0; k < out.size(); ++k)
        difference = std::max(difference, double(std::abs(out[k] - input[k])));
    EXPECT_GT(difference, 0.05);
    EXPECT_GT(test::rms(out, 4 * kBlockLength), 0.2 * test::rms(input));
}

TEST(HumanMorph, TailCarriesAcrossBlocksWithinItsBounds) {
    std::vector<float> input = test::voicedSignal(10 * kBlockLength, 110);
    const std::vector<float> higher = test::voicedSignal(10 * kBlockLength, 260);
    input.insert(input.end(), higher.begin(), higher.end());
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (int k = 0; k < 10 * kBlockLength; ++k) input.push_back(noise(random));

    for (double q : {0.65, 1.0, 1.7}) {
        MorphRunner runner;
        for (size_t at = 0; at + kBlockLength <= input.size(); at += kBlockLength) {
            const std::vector<double> pending(runner.state->tail, runner.state->tail + 548);
            runner.block(input.data() + at, q);
            ASSERT_GE(runner.state->tailLength, kMinTailLength)
                << q << " block " << at / kBlockLength;
            ASSERT_LE(runner.state->tailLength, kMaxTailLength)
                << q << " block " << at / kBlockLength;
            // Each block opens with the output that was pending from the last one.
            ASSERT_TRUE(std::equal(pending.begin(), pending.end(), runner.state->outputBlock))
                << q << " block " << at / kBlockLength;
        }
    }
}

TEST(HumanMorph, HostileInputStaysFiniteAndTheNextNormalBlocksAreNormal) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    auto make = [&](auto sample) {
        std::vector<float> x(4 * kBlockLength);
        for (int k = 0; k < int(x.size()); ++k) x[k] = sample(k);
        return x;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        std::vector<float> signal;
    };
    const std::vector<Case> cases = {
        {"digital silence", make([](int) { return 0.0f; })},
        {"sparse impulses", make([](int k) { return k % 1500 == 700 ? 1.0f : 0.0f; })},
        {"single impulse", make([](int k) { return k == 2500 ? -1.0f : 0.0f; })},
        {"full-scale noise", make([&](int) { return noise(random); })},
        {"clipped square", make([](int k) { return (k / 37) % 2 ? 1.0f : -1.0f; })},
        {"clipped voice",
         make([](int k) { return std::clamp(20.0f * std::sin(k * 0.05f), -1.0f, 1.0f); })},
        {"constant offset", make([](int) { return 1.0f; })},
        {"huge values", make([](int k) { return k % 2 ? 3e38f : -3e38f; })},
        {"non-finite samples", make([&](int k) {
             return k % 3 == 0 ? nan : k % 3 == 1 ? inf : -inf;
         })},
        {"denormals", make([](int k) { return k % 2 ? 1e-40f : 0.0f; })},
    };
    const std::vector<float> voice = test::voicedSignal(20 * kBlockLength, 100);
    for (double q : {0.65, 1.7}) {
        for (const Case& c : cases) {
            MorphRunner runner(1.2);
            runner.run(test::voicedSignal(3 * kBlockLength, 90), q);  // some history first
            runner.run(c.signal, q);
            ASSERT_TRUE(runner.outputFinite) << c.name << " at " << q;
            ASSERT_TRUE(allFinite(runner.state->tail, kTailCapacity)) << c.name << " at " << q;
            const std::vector<float> after = runner.run(voice, q);
            ASSERT_TRUE(runner.outputFinite) << c.name << " at " << q;
            EXPECT_NEAR(test::medianF0(withoutFirst(after, 4 * kBlockLength), kRate, 50, 600),
                        160.0 / q, 0.05 * 160.0 / q)
                << c.name << " at " << q;
        }
    }
}

TEST(HumanMorph, SilenceFromStartGivesSilence) {
    MorphRunner runner;
    const std::vector<float> out = runner.run(std::vector<float>(8 * kBlockLength, 0.0f), 1.0);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }));
    EXPECT_EQ(runner.state->tailLength, kMinTailLength);
}

TEST(HumanMorph, OutOfRangeControlsAreBoundedNotTrusted) {
    const std::vector<float> input = test::voicedSignal(12 * kBlockLength, 100);
    struct Case {
        const char* name;
        double q;
        double formant;
        int32_t tailLength;
        bool audible;  // a formant axis read as all 0 flattens the envelope to DC
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"formant 5", 1.0, 5.0, 1024, true},
        {"negative formant", 1.0, -1.0, 1024, false},
        {"NaN formant", 1.0, nan, 1024, false},
        {"pitch factor 0", 0.0, 1.0, 1024, true},
        {"pitch factor 100", 100.0, 1.0, 1024, true},
        {"NaN pitch factor", nan, 1.0, 1024, true},
        {"tail length 0", 1.0, 1.0, 0, true},
        {"tail length 100000", 1.0, 1.0, 100000, true},
    };
    for (const Case& c : cases) {
        MorphRunner runner(c.formant);
        runner.state->tailLength = c.tailLength;
        const std::vector<float> out = runner.run(input, c.q);
        EXPECT_TRUE(test::allFinite(out)) << c.name;
        EXPECT_GE(runner.state->tailLength, kMinTailLength) << c.name;
        EXPECT_LE(runner.state->tailLength, kMaxTailLength) << c.name;
        if (c.audible) {
            EXPECT_GT(test::rms(out, 4 * kBlockLength), 0.01) << c.name;
        }
    }
    // A window of another length is not read: the pending tail plays out.
    MorphRunner runner;
    runner.run(input, 1.0);
    const std::vector<double> pending(runner.state->tail, runner.state->tail + 1024);
    const int32_t tailLength = HumanMorph(runner.state->analysisWindow, 2048, 1024, 2047,
                                          runner.state->tail, runner.state->tailLength, 1.0,
                                          runner.axis, runner.state->outputBlock, *runner.work);
    EXPECT_EQ(tailLength, kMinTailLength);
    EXPECT_TRUE(std::equal(pending.begin(), pending.begin() + 1023, runner.state->outputBlock));
}

TEST(HumanMorph, SpeechSampleChangesPitchByThePitchFactor) {
    const test::Wav wav = test::readWav(test::speechSamplePath());
    ASSERT_FALSE(wav.samples.empty()) << test::speechSamplePath();
    ASSERT_EQ(wav.rate, kRate);
    ASSERT_EQ(wav.channels, 1);
    const double inputF0 = test::medianF0(wav.samples, kRate);
    ASSERT_GT(inputF0, 0.0);
    for (double q : {0.65, 1.0, 1.7}) {
        MorphRunner runner;
        const std::vector<float> out = runner.run(wav.samples, q);
        ASSERT_TRUE(test::allFinite(out)) << q;
        const double outputF0 = test::medianF0(out, kRate, 50, 600);
        const double ratio = outputF0 / inputF0;
        RecordProperty("f0_ratio_q" + std::to_string(q), std::to_string(ratio));
        std::printf("speech at q %.2f: %.1f Hz -> %.1f Hz, ratio %.3f (expected %.3f)\n", q,
                    inputF0, outputF0, ratio, 1.0 / q);
        EXPECT_NEAR(ratio * q, 1.0, 0.1) << q;
    }
}

}  // namespace
}  // namespace parlune::voice
