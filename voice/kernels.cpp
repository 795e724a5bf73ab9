#include "voice/kernels.h"

#include <cmath>

namespace parlune::voice {
namespace {

constexpr double kPi = 3.14159265358979323846;

bool validTransformSize(int n) {
    int size = 4;
    while (size < n && size < kMaxKernelLength) size *= 2;
    return size == n;
}

// Sine tables sin(2 pi k / N), k = 0 .. N - N/4, for every accepted N; cosines
// are read N/4 entries further on. Built once (static storage, no heap) so the
// transforms on the audio thread only index them.
struct SineTables {
    static constexpr int kSizes = 11;    // 4 .. 4096
    static constexpr int kTotal = 6152;  // sum over the sizes of 3N/4 + 1
    float single[kTotal];
    double twice[kTotal];
    int offset[kSizes];

    SineTables() {
        int at = 0;
        for (int s = 0, n = 4; s < kSizes; ++s, n *= 2) {
            offset[s] = at;
            // The single-precision step is 2 * (pi / N) in float; the sines of
            // its multiples are taken in double and rounded.
            const float stepSingle = 2.0f * (static_cast<float>(kPi) / static_cast<float>(n));
            const double stepDouble = 2.0 * kPi / n;
            for (int k = 0; k <= n - n / 4; ++k) {
                single[at + k] = static_cast<float>(std::sin(static_cast<double>(stepSingle) * k));
                twice[at + k] = std::sin(stepDouble * k);
            }
            at += n - n / 4 + 1;
        }
    }
    static int sizeIndex(int n) {
        int s = 0;
        while ((4 << s) < n) ++s;
        return s;
    }
    const float* table(int n, float*) const { return single + offset[sizeIndex(n)]; }
    const double* table(int n, double*) const { return twice + offset[sizeIndex(n)]; }
};

const SineTables& sineTables() {
    static const SineTables tables;
    return tables;
}

template <typename T>
int32_t fftImpl(T* re, T* im, int n) {
    if (!validTransformSize(n)) return -1;
    const T* sine = sineTables().table(n, static_cast<T*>(nullptr));
    const int quarter = n / 4;
    // Decimation in frequency: butterflies on natural-order input, twiddle on
    // the difference, output left in bit-reversed order.
    for (int span = n; span >= 2; span >>= 1) {
        const int half = span / 2;
        const int stride = n / span;
        for (int j = 0; j < half; ++j) {
            const T s = sine[j * stride];
            const T c = sine[j * stride + quarter];
            for (int start = j; start < n; start += span) {
                const int other = start + half;
                const T dr = re[start] - re[other];
                const T di = im[start] - im[other];
                re[start] += re[other];
                im[start] += im[other];
                // (dr + i di) * (c - i s)
                re[other] = dr * c + di * s;
                im[other] = di * c - dr * s;
            }
        }
    }
    for (int i = 1, j = 0; i < n; ++i) {
        int bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j |= bit;
        if (i < j) {
            T t = re[i];
            re[i] = re[j];
            re[j] = t;
            t = im[i];
            im[i] = im[j];
            im[j] = t;
        }
    }
    return 0;
}

template <typename T>
int32_t ifftImpl(T* re, T* im, int n) {
    const int32_t status = fftImpl(im, re, n);
    if (status != 0) return status;
    const T size = static_cast<T>(n);
    for (int i = 0; i < n; ++i) {
        re[i] /= size;
        im[i] /= size;
    }
    return 0;
}

// The single-precision rounding points: sums in float, s1 + x and the
// subtraction of s2 in double, each rounded to float.
inline float combine(float s1, float x, float s2) {
    const float t = static_cast<float>(static_cast<double>(s1) + static_cast<double>(x));
    return static_cast<float>(static_cast<double>(t) - static_cast<double>(s2));
}
inline double combine(double s1, double x, double s2) { return (s1 + x) - s2; }

template <typename T>
void filterImpl(const T* x, int n, T* b, int nb, T* a, int na, T* xh, T* yh, T* y) {
    if (nb < 1 || na < 1 || n < 0) return;
    if (a[0] == T(0)) {
        // No defined output: silence rather than infinities.
        for (int i = 0; i < n; ++i) {
            y[i] = 0;
            xh[nb - 1 + i] = x[i];
            yh[na - 1 + i] = 0;
        }
        return;
    }
    // A numerator starting with 0 (a pure delay) cannot be made monic; it is
    // kept as it stands and only the denominator is normalised, which is the
    // same filter.
    const bool monicNumerator = b[0] != T(0);
    const T inputWeight = monicNumerator ? T(1) : T(0);
    const T gain = monicNumerator ? b[0] / a[0] : T(1) / a[0];
    if (monicNumerator)
        for (int j = nb - 1; j >= 0; --j) b[j] /= b[0];
    for (int j = na - 1; j >= 0; --j) a[j] /= a[0];
    for (int i = 0; i < n; ++i) {
        T s1 = 0, s2 = 0;
        for (int j = 1; j < nb; ++j) s1 += b[j] * xh[i + nb - 1 - j];
        for (int j = 1; j < na; ++j) s2 += a[j] * yh[i + na - 1 - j];
        const T w = combine(s1, inputWeight * x[i], s2);
        y[i] = w;
        xh[nb - 1 + i] = x[i];
        yh[na - 1 + i] = w;
    }
    for (int i = 0; i < n; ++i) y[i] = gain * y[i];
}

template <typename T>
void detrendImpl(const T* y, int n, T* trend, T* rem) {
    if (n < 2) {
        for (int k = 0; k < n; ++k) {
            trend[k] = y[k];
            rem[k] = 0;
        }
        return;
    }
    T sk = 0, skk = 0, sy = 0, sky = 0;
    for (int k = 0; k < n; ++k) {
        const T kk = static_cast<T>(static_cast<long long>(k) * k);
        sk += static_cast<T>(k);
        skk += kk;
        sy += y[k];
        sky += static_cast<T>(k) * y[k];
    }
    const T count = static_cast<T>(n);
    const T d = count * skk - sk * sk;
    const T slope = (count * sky - sk * sy) / d;
    const T intercept = (skk * sy - sk * sky) / d;
    for (int k = 0; k < n; ++k) {
        trend[k] = slope * static_cast<T>(k) + intercept;
        rem[k] = y[k] - trend[k];
    }
}

template <typename T>
void linspaceImpl(T a, T b, int n, T* v) {
    if (n < 1) return;
    v[0] = a;
    if (n < 2) return;
    const T step = (b - a) / static_cast<T>(n - 1);
    for (int i = 1; i < n - 1; ++i) v[i] = v[i - 1] + step;
    v[n - 1] = b;
}

}  // namespace

int32_t fftRadix2(float* re, float* im, int n) { return fftImpl(re, im, n); }
int32_t fftRadix2(double* re, double* im, int n) { return fftImpl(re, im, n); }
int32_t ifftScaled(float* re, float* im, int n) { return ifftImpl(re, im, n); }
int32_t ifftScaled(double* re, double* im, int n) { return ifftImpl(re, im, n); }

void circularAutocorrelation(const float* x, int n, float* r) {
    float re[kMaxKernelLength];
    float im[kMaxKernelLength];
    if (!validTransformSize(n)) {
        // Outside the transform sizes: the same sum, directly.
        if (n < 1 || n > kMaxKernelLength) return;
        for (int m = 0; m < n; ++m) {
            double sum = 0;
            for (int t = 0; t < n; ++t) sum += double(x[t]) * x[(t + m) % n];
            r[m] = static_cast<float>(sum);
        }
        return;
    }
    for (int i = 0; i < n; ++i) {
        re[i] = x[i];
        im[i] = 0;
    }
    fftRadix2(re, im, n);
    for (int i = 0; i < n; ++i) {
        re[i] = re[i] * re[i] + im[i] * im[i];
        im[i] = 0;
    }
    ifftScaled(re, im, n);
    for (int i = 0; i < n; ++i) r[i] = re[i];
}

namespace {

// The Levinson-Durbin recursion behind levinsonDurbin and levinsonDurbinStable.
// With keepStable, the coefficients of order i - 1 are saved when the
// reflection coefficient of order i first reaches magnitude 1 (from there on
// the all-pole filter would be unstable) and are the ones returned; the
// arithmetic of the recursion is the same either way.
int32_t levinsonDurbinCore(const float* r, float* a, int p, float tol, bool keepStable,
                           int* orderKept) {
    *orderKept = 0;
    if (p > 63) return -1;
    if (std::isnan(r[0]) || std::fabs(r[0]) <= tol) return -1;
    float e = r[0];
    a[0] = 0;
    if (p < 1) {
        a[0] = std::sqrt(r[0]);
        return 0;
    }
    int32_t status = 0;
    int stableOrder = -1;  // -1 while every reflection coefficient is below 1
    float previous[64];
    float stable[64];
    float stableError = 0.0f;
    int reached = 0;
    for (int i = 1; i <= p; ++i) {
        for (int j = 1; j < i; ++j) previous[j] = a[j];
        float sum = 0.0f;
        for (int j = 1; j < i; ++j) sum += previous[j] * r[i - j];
        const float acc = -r[i] - sum;
        const float k = acc / e;
        for (int j = 1; j < i; ++j) a[j] = previous[j] + k * previous[i - j];
        a[i] = k;
        reached = i;
        if (keepStable && !(std::fabs(k) < 1.0f) && stableOrder < 0) {
            stableOrder = i - 1;
            for (int j = 1; j < i; ++j) stable[j] = previous[j];
            stableError = e;
        }
        e = static_cast<float>((1.0 - static_cast<double>(k) * k) * static_cast<double>(e));
        if (std::isnan(e) || std::fabs(e) <= tol) {
            status = -1;
            break;
        }
        if (std::fabs(k) >= 1.0f) status = -2;
    }
    if (stableOrder >= 0) {
        for (int j = 1; j <= stableOrder; ++j) a[j] = stable[j];
        for (int j = stableOrder + 1; j <= reached; ++j) a[j] = 0.0f;
        reached = stableOrder;
        a[0] = std::sqrt(stableError);  // the prediction error of the kept order
    } else if (status != -1) {
        a[0] = std::sqrt(e);
    }
    *orderKept = reached;
    return status;
}

int32_t lpcCore(const float* x, int n, int p, float* a, bool keepStable, float noiseFloor,
                int* orderKept) {
    float r[kMaxKernelLength];
    int32_t status = -1;
    *orderKept = 0;
    if (n >= 1 && n <= kMaxKernelLength && p >= 0 && p <= 63 && p < n) {
        circularAutocorrelation(x, n, r);
        if (noiseFloor > 0.0f) r[0] *= 1.0f + noiseFloor;
        status = levinsonDurbinCore(r, a, p, 1e-6f, keepStable, orderKept);
    }
    a[0] = 1.0f;
    return status;
}

}  // namespace

int32_t lpcCoefficients(const float* x, int n, int p, float* a, float noiseFloor) {
    int order = 0;
    return lpcCore(x, n, p, a, false, noiseFloor, &order);
}

int32_t lpcCoefficientsStable(const float* x, int n, int p, float* a, int* orderKept) {
    int kept = 0;
    const int32_t status = lpcCore(x, n, p, a, true, 0.0f, &kept);
    bool finite = true;
    for (int j = 1; j <= p; ++j) finite = finite && std::isfinite(a[j]);
    if (!finite) {
        for (int j = 1; j <= p; ++j) a[j] = 0.0f;
        kept = 0;
    }
    if (orderKept) *orderKept = kept;
    return status;
}

int32_t levinsonDurbin(const float* r, float* a, int p, float tol) {
    int order = 0;
    return levinsonDurbinCore(r, a, p, tol < 0 ? 1e-6f : tol, false, &order);
}

int32_t levinsonDurbinStable(const float* r, float* a, int p, int* orderKept) {
    return levinsonDurbinCore(r, a, p, 1e-6f, true, orderKept);
}

void filterWithHistory(const float* x, int n, float* b, int nb, float* a, int na, float* xh,
                       float* yh, float* y) {
    filterImpl(x, n, b, nb, a, na, xh, yh, y);
}
void filterWithHistory(const double* x, int n, double* b, int nb, double* a, int na, double* xh,
                       double* yh, double* y) {
    filterImpl(x, n, b, nb, a, na, xh, yh, y);
}

void freqzMagnitude(const float* b, int nb, const float* a, int na, int n, float* h) {
    const int size = 2 * n;
    if (!validTransformSize(size)) return;
    float bre[kMaxKernelLength], bim[kMaxKernelLength];
    float are[kMaxKernelLength], aim[kMaxKernelLength];
    for (int i = 0; i < size; ++i) {
        bre[i] = i < nb ? b[i] : 0.0f;
        are[i] = i < na ? a[i] : 0.0f;
        bim[i] = aim[i] = 0.0f;
    }
    fftRadix2(bre, bim, size);
    fftRadix2(are, aim, size);
    for (int k = 0; k < n; ++k) {
        const float magB = static_cast<float>(std::sqrt(double(bre[k] * bre[k] + bim[k] * bim[k])));
        const float magA = static_cast<float>(std::sqrt(double(are[k] * are[k] + aim[k] * aim[k])));
        h[k] = magB / magA;
    }
}

void zeroPhaseImpulse(const float* m, int n, float* h) {
    const int size = 2 * n;
    if (!validTransformSize(size)) return;
    float im[kMaxKernelLength];
    for (int k = 0; k < n; ++k) h[k] = m[k];
    h[n] = 0.0f;
    for (int k = 1; k < n; ++k) h[size - k] = m[k];
    for (int i = 0; i < size; ++i) im[i] = 0.0f;
    fftRadix2(h, im, size);
    const float scale = static_cast<float>(size);
    for (int i = 0; i < size; ++i) h[i] /= scale;
}

void magnitudeAutocorrelation(const double* x, int n, double* out) {
    const int size = 2 * n;
    if (!validTransformSize(size)) return;
    double re[kMaxKernelLength], im[kMaxKernelLength];
    for (int i = 0; i < size; ++i) {
        re[i] = i < n ? x[i] : 0.0;
        im[i] = 0.0;
    }
    fftRadix2(re, im, size);
    for (int k = 0; k < size; ++k) {
        re[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
        im[k] = 0.0;
    }
    ifftScaled(re, im, size);
    for (int i = 0; i < n; ++i) out[i] = re[i];
}

void interpAtPositions(const float* y, int ny, const float* q, int nq, float* out) {
    if (ny < 1) return;
    const float last = static_cast<float>(ny - 1);
    for (int j = 0; j < nq; ++j) {
        const float position = q[j];
        if (position >= last) {
            out[j] = y[ny - 1];
            continue;
        }
        if (!(position >= 0.0f)) {  // negative or NaN: nothing before the array
            out[j] = y[0];
            continue;
        }
        const float base = std::floor(position);
        const int i = static_cast<int>(base);
        // The divisor is floor(q + 1) - i in float, as the stages expect: a
        // position just below an integer can round up to 2 here.
        const float span = std::floor(position + 1.0f) - base;
        out[j] = y[i] + (y[i + 1] - y[i]) * (position - base) / span;
    }
}

void interpOnGrid(const double* grid, const double* values, int ng, const double* queries, int nq,
                  double* out) {
    if (ng < 1) return;
    if (ng == 1) {
        for (int j = 0; j < nq; ++j) out[j] = values[0];
        return;
    }
    int i = 0;
    for (int j = 0; j < nq; ++j) {
        const double q = queries[j];
        while (i < ng - 2 && q > grid[i + 1]) ++i;
        const double width = grid[i + 1] - grid[i];
        // A repeated grid point has no slope: its value stands.
        out[j] = width == 0.0 ? values[i]
                              : values[i] + (values[i + 1] - values[i]) * (q - grid[i]) / width;
    }
}

int argmaxFirst(const double* x, int from, int to) {
    if (to - from < 2) return from;
    int best = from;
    for (int i = from + 1; i < to; ++i)
        if (x[i] > x[best]) best = i;
    return best;
}

int peakIndexExcluding(const float* x, int n, int lo, int hi) {
    float best = -1.0f;
    int index = 0;
    const int firstEnd = lo < n ? lo : n;
    for (int i = 0; i < firstEnd; ++i)
        if (x[i] >= best) {
            best = x[i];
            index = i;
        }
    for (int i = hi + 1 > 0 ? hi + 1 : 0; i < n; ++i)
        if (x[i] > best) {
            best = x[i];
            index = i;
        }
    return index;
}

void linearDetrend(const float* y, int n, float* trend, float* rem) {
    detrendImpl(y, n, trend, rem);
}
void linearDetrend(const double* y, int n, double* trend, double* rem) {
    detrendImpl(y, n, trend, rem);
}

void unwrapPhase(double* p, int n) {
    double correction = 0.0;
    // Each step's correction depends only on the original neighbours, so the
    // running sum can be applied as we go if the previous original value is kept.
    double previousOriginal = n > 0 ? p[0] : 0.0;
    for (int i = 0; i + 1 < n; ++i) {
        const double current = p[i + 1];
        const double dp = current - previousOriginal;
        double dps = (dp + kPi) - std::floor((dp + kPi) / (2 * kPi)) * (2 * kPi) - kPi;
        if (dps == -kPi && dp > 0) dps = kPi;
        double corr = dps - dp;
        if (std::fabs(dp) < kPi) corr = 0.0;
        correction += corr;
        previousOriginal = current;
        p[i + 1] = current + correction;
    }
}

void linspace(float a, float b, int n, float* v) { linspaceImpl(a, b, n, v); }
void linspace(double a, double b, int n, double* v) { linspaceImpl(a, b, n, v); }

}  // namespace parlune::voice
