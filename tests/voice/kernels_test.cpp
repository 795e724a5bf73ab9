#include "voice/kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <random>
#include <vector>

namespace parlune::voice {
namespace {

using Values = std::vector<double>;

std::vector<std::complex<double>> naiveDft(const Values& re, const Values& im, int sign) {
    const size_t n = re.size();
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; ++k)
        for (size_t t = 0; t < n; ++t)
            out[k] += std::complex<double>(re[t], im[t]) *
                      std::polar(1.0, sign * 2 * M_PI * double(k * t % n) / n);
    return out;
}

Values randomValues(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1, 1);
    Values v(n);
    for (double& x : v) x = dist(rng);
    return v;
}

std::vector<float> toFloat(const Values& v) { return std::vector<float>(v.begin(), v.end()); }
Values toDouble(const float* v, int n) { return Values(v, v + n); }

// Conventions of the kernels, each as actual -> expected on a small input.
struct Case {
    const char* name;
    std::function<Values()> actual;
    Values expected;
    double tolerance;
};

TEST(Kernels, ConventionsHoldOnSmallInputs) {
    const std::vector<Case> cases = {
        {"forward transform of a delta at 1 has the minus sign",
         [] {
             float re[4] = {0, 1, 0, 0}, im[4] = {0, 0, 0, 0};
             fftRadix2(re, im, 4);
             return Values{re[0], im[0], re[1], im[1], re[2], im[2], re[3], im[3]};
         },
         {1, 0, 0, -1, -1, 0, 0, 1},
         1e-6},
        {"inverse is scaled by 1/N",
         [] {
             double re[4] = {4, 0, 0, 0}, im[4] = {0, 0, 0, 0};
             ifftScaled(re, im, 4);
             return Values{re[0], re[1], re[2], re[3], im[0]};
         },
         {1, 1, 1, 1, 0},
         1e-12},
        {"circular autocorrelation wraps around the frame end",
         [] {
             const float x[4] = {1, 2, 3, 4};
             float r[4];
             circularAutocorrelation(x, 4, r);
             return toDouble(r, 4);
         },
         // r[1] = 1*2 + 2*3 + 3*4 + 4*1
         {30, 24, 22, 24},
         1e-4},
        {"Levinson-Durbin of a first-order process: a = sqrt(E), -0.5, 0",
         [] {
             const float r[3] = {1, 0.5f, 0.25f};
             float a[3] = {9, 9, 9};
             const int32_t status = levinsonDurbin(r, a, 2, -1);
             return Values{double(status), a[0], a[1], a[2]};
         },
         {0, std::sqrt(0.75), -0.5, 0},
         1e-6},
        {"Levinson-Durbin with order 0 gives sqrt(r0)",
         [] {
             const float r[1] = {4};
             float a[1] = {9};
             const int32_t status = levinsonDurbin(r, a, 0, -1);
             return Values{double(status), a[0]};
         },
         {0, 2},
         0},
        {"Levinson-Durbin on r0 = 0 fails and leaves a alone",
         [] {
             const float r[3] = {0, 0, 0};
             float a[3] = {7, 8, 9};
             const int32_t status = levinsonDurbin(r, a, 2, -1);
             return Values{double(status), a[0], a[1], a[2]};
         },
         {-1, 7, 8, 9},
         0},
        {"a reflection coefficient beyond 1 gives -2 but keeps the coefficients; LPC sets a0 = 1",
         [] {
             // Circular autocorrelation of {1, -1, 1, -1} is {4, -4, 4, -4}: E reaches 0 -> -1.
             // {1, 1.5} directly: k = -1.5, E = -1.25 -> status -2.
             const float r[2] = {1, 1.5f};
             float a[2] = {0, 0};
             const int32_t status = levinsonDurbin(r, a, 1, -1);
             const float x[4] = {1, -1, 1, -1};
             float lpc[2] = {5, 5};
             const int32_t lpcStatus = lpcCoefficients(x, 4, 1, lpc);
             return Values{double(status), a[1], double(lpcStatus), lpc[0]};
         },
         {-2, -1.5, -1, 1},
         1e-6},
        {"filter with b = a = 1 copies x and appends it to the input history",
         [] {
             const float x[3] = {1, 2, 3};
             float b[1] = {1}, a[1] = {1}, xh[3], yh[3], y[3];
             filterWithHistory(x, 3, b, 1, a, 1, xh, yh, y);
             return Values{y[0], y[1], y[2], xh[0], xh[1], xh[2]};
         },
         {1, 2, 3, 1, 2, 3},
         0},
        {"filter normalises b and a in place and applies b0/a0 at the end",
         [] {
             // y = 0.5 x - 0.5 y[-1] from b = {2}, a = {4, 2}; history y[-1] = 2 before the gain.
             const double x[2] = {1, 1};
             double b[1] = {2}, a[2] = {4, 2}, xh[2], yh[3] = {2, 0, 0}, y[2];
             filterWithHistory(x, 2, b, 1, a, 2, xh, yh, y);
             // w0 = 1 - 0.5 * 2 = 0, w1 = 1 - 0 = 1; y = 0.5 w.
             return Values{y[0], y[1], b[0], a[0], a[1], yh[1], yh[2]};
         },
         {0, 0.5, 1, 1, 0.5, 0, 1},
         1e-12},
        {"frequency response from DC to one bin below Nyquist",
         [] {
             const float b[1] = {1}, a[2] = {1, -0.5f};
             float h[4];
             freqzMagnitude(b, 1, a, 2, 4, h);
             return toDouble(h, 4);
         },
         [] {
             Values v;
             for (int k = 0; k < 4; ++k)
                 v.push_back(1 / std::abs(1.0 - 0.5 * std::polar(1.0, -M_PI * k / 4)));
             return v;
         }(),
         1e-6},
        {"zero-phase impulse is even with its peak at 0",
         [] {
             const float m[4] = {1, 1, 1, 1};
             float h[8];
             zeroPhaseImpulse(m, 4, h);
             return toDouble(h, 8);
         },
         // (M0 + 2 sum cos(pi k m / 4)) / 8 for M = 1,1,1,1
         [] {
             Values v;
             for (int m = 0; m < 8; ++m) {
                 double s = 1;
                 for (int k = 1; k < 4; ++k) s += 2 * std::cos(M_PI * k * m / 4);
                 v.push_back(s / 8);
             }
             return v;
         }(),
         1e-6},
        {"magnitude autocorrelation transforms back |X|, not |X|^2",
         [] {
             const double x[2] = {1, 1};
             double out[2];
             magnitudeAutocorrelation(x, 2, out);
             return Values{out[0], out[1]};
         },
         // |DFT{1,1,0,0}| = 2, sqrt2, 0, sqrt2 -> inverse: (2 + 2 sqrt2)/4, 2/4
         {(2 + 2 * std::sqrt(2.0)) / 4, 0.5},
         1e-12},
        {"interpolation at positions, the last index and past it",
         [] {
             const float y[3] = {0, 10, 20};
             const float q[5] = {0, 0.25f, 1.5f, 2, 2.0001f};
             float out[5];
             interpAtPositions(y, 3, q, 5, out);
             return toDouble(out, 5);
         },
         {0, 2.5, 15, 20, 20},
         1e-5},
        {"interpolation on a grid, ties in the lower interval, index only forward",
         [] {
             const double grid[3] = {0, 1, 3}, values[3] = {0, 10, 30};
             const double q[4] = {0, 1, 2, 3};
             double out[4];
             interpOnGrid(grid, values, 3, q, 4, out);
             return Values(out, out + 4);
         },
         {0, 10, 20, 30},
         1e-12},
        {"first maximum keeps the lowest index",
         [] {
             const double x[4] = {1, 3, 3, 2};
             return Values{double(argmaxFirst(x, 0, 4)), double(argmaxFirst(x, 2, 3))};
         },
         {1, 2},
         0},
        {"peak outside a band: ties go later before it, earlier after it; index 0 never with lo = "
         "0",
         [] {
             const float x[8] = {9, 2, 5, 2, 5, 0, 5, 5};
             return Values{double(peakIndexExcluding(x, 8, 0, 0)),      // 1..7: first 5 at 2
                           double(peakIndexExcluding(x, 8, 3, 5)),      // 0..2 then 6..7: 9 at 0
                           double(peakIndexExcluding(x + 1, 7, 4, 4)),  // 2,5,2,5 | 5 -> index 3
                           double(peakIndexExcluding(x, 0, 0, 0))};
         },
         {2, 0, 3, 0},
         0},
        {"peak search: nothing below -1 wins",
         [] {
             const float low[3] = {-2, -2, -2};
             const float minusOne[3] = {-1, -1, -1};
             return Values{double(peakIndexExcluding(low, 3, 3, 3)),
                           double(peakIndexExcluding(minusOne, 3, 2, 2)),   // first scan takes ties
                           double(peakIndexExcluding(minusOne, 3, 0, 0))};  // second does not
         },
         {0, 1, 0},
         0},
        {"detrend splits a line plus an alternating remainder",
         [] {
             float y[4];
             for (int k = 0; k < 4; ++k) y[k] = 2.0f * k + 1 + (k % 2 ? 1.0f : -1.0f);
             float trend[4], rem[4];
             linearDetrend(y, 4, trend, rem);
             return Values{trend[0], trend[3], rem[0] + rem[1] + rem[2] + rem[3]};
         },
         // least squares of {0, 4, 4, 8}: slope 2.4, intercept 0.4
         {0.4, 7.6, 0},
         1e-5},
        {"unwrap corrects a jump of -6 by 2 pi and keeps exact +-pi jumps",
         [] {
             double p[2] = {3.0, -3.0};
             unwrapPhase(p, 2);
             double q[3] = {0, M_PI, 0};
             unwrapPhase(q, 3);
             return Values{p[0], p[1], q[1], q[2]};
         },
         {3.0, -3.0 + 2 * M_PI, M_PI, 0},
         1e-12},
        {"linspace ends exactly on b",
         [] {
             float v[3];
             linspace(0.0f, 1.0f, 3, v);
             double d[4];
             linspace(1.0, -1.0, 4, d);
             return Values{v[0], v[1], v[2], d[1], d[3]};
         },
         {0, 0.5, 1, 1.0 / 3, -1},
         1e-7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Values got = c.actual();
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], c.expected[i], c.tolerance) << "index " << i;
    }
}

TEST(Kernels, TransformsMatchTheDftAndInvert) {
    for (int n : {4, 8, 64, 1024, 4096}) {
        SCOPED_TRACE(n);
        const Values re = randomValues(n, n), im = randomValues(n, n + 1);
        // Double transform against the direct sum (checked on the small sizes).
        Values dre = re, dim = im;
        ASSERT_EQ(fftRadix2(dre.data(), dim.data(), n), 0);
        if (n <= 1024) {
            const auto expected = naiveDft(re, im, -1);
            for (int k = 0; k < n; ++k) {
                ASSERT_NEAR(dre[k], expected[k].real(), 1e-9 * n);
                ASSERT_NEAR(dim[k], expected[k].imag(), 1e-9 * n);
            }
        }
        // Float transform agrees with the double one.
        std::vector<float> fre = toFloat(re), fim = toFloat(im);
        ASSERT_EQ(fftRadix2(fre.data(), fim.data(), n), 0);
        for (int k = 0; k < n; ++k) ASSERT_NEAR(fre[k], dre[k], 2e-5 * n);
        // Round trips give the sequence back in both precisions.
        ASSERT_EQ(ifftScaled(dre.data(), dim.data(), n), 0);
        ASSERT_EQ(ifftScaled(fre.data(), fim.data(), n), 0);
        for (int i = 0; i < n; ++i) {
            ASSERT_NEAR(dre[i], re[i], 1e-12);
            ASSERT_NEAR(dim[i], im[i], 1e-12);
            ASSERT_NEAR(fre[i], re[i], 1e-5);
            ASSERT_NEAR(fim[i], im[i], 1e-5);
        }
    }
}

TEST(Kernels, TransformsRejectSizesOutsideThePowersOfTwoFrom4To4096) {
    for (int n : {0, 2, 3, 6, 12, 8192}) {
        SCOPED_TRACE(n);
        float re[16], im[16];
        for (int i = 0; i < 16; ++i) re[i] = im[i] = float(i);
        EXPECT_EQ(fftRadix2(re, im, n), -1);
        EXPECT_EQ(ifftScaled(re, im, n), -1);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(re[i], float(i));
            EXPECT_EQ(im[i], float(i));
        }
    }
}

TEST(Kernels, FilterHistoryCarriesAcrossCalls) {
    // One call over 64 samples equals two calls of 32 with the histories moved
    // forward by the caller, for a filter with both numerator and feedback taps.
    const std::vector<float> x = toFloat(randomValues(64, 3));
    const float b0[3] = {1, 0.5f, -0.25f}, a0[3] = {1, -0.9f, 0.2f};
    std::vector<float> whole(64), split(64);
    {
        float b[3], a[3], xh[2 + 64] = {}, yh[2 + 64] = {};
        std::copy(b0, b0 + 3, b);
        std::copy(a0, a0 + 3, a);
        filterWithHistory(x.data(), 64, b, 3, a, 3, xh, yh, whole.data());
    }
    float xh[2 + 32] = {}, yh[2 + 32] = {};
    for (int part = 0; part < 2; ++part) {
        float b[3], a[3];
        std::copy(b0, b0 + 3, b);
        std::copy(a0, a0 + 3, a);
        filterWithHistory(x.data() + 32 * part, 32, b, 3, a, 3, xh, yh, split.data() + 32 * part);
        std::copy(xh + 32, xh + 34, xh);
        std::copy(yh + 32, yh + 34, yh);
    }
    for (int i = 0; i < 64; ++i) EXPECT_FLOAT_EQ(split[i], whole[i]) << i;
    // Against a plain double recursion.
    double y1 = 0, y2 = 0, x1 = 0, x2 = 0;
    for (int i = 0; i < 64; ++i) {
        const double y = x[i] + 0.5 * x1 - 0.25 * x2 + 0.9 * y1 - 0.2 * y2;
        EXPECT_NEAR(whole[i], y, 1e-5);
        x2 = x1, x1 = x[i], y2 = y1, y1 = y;
    }
}

TEST(Kernels, LinspaceAddsTheStepRepeatedly) {
    float v[1024];
    linspace(0.0f, 1.0f, 1024, v);
    float running = 0.0f;
    const float step = 1.0f / 1023.0f;
    for (int i = 1; i < 1023; ++i) {
        running += step;
        ASSERT_EQ(v[i], running) << i;
    }
    EXPECT_EQ(v[1023], 1.0f);
}

TEST(Kernels, LpcFitsAKnownAllPoleProcess) {
    // x[t] = 0.9 x[t-1] + noise: an order-2 fit finds a1 close to -0.9 and a2 near 0.
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0, 1);
    std::vector<float> x(4096);
    float prev = 0;
    for (float& v : x) prev = v = 0.9f * prev + noise(rng);
    float a[3] = {};
    EXPECT_EQ(lpcCoefficients(x.data(), 4096, 2, a), 0);
    EXPECT_EQ(a[0], 1.0f);
    EXPECT_NEAR(a[1], -0.9, 0.05);
    EXPECT_NEAR(a[2], 0.0, 0.05);
}

}  // namespace
}  // namespace parlune::voice
