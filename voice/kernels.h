// Numeric kernels shared by both voice morphs: plain functions on caller-owned
// arrays. Stateless and allocation-free (fixed working arrays of at most
// kMaxKernelLength elements live on the stack). Safe on any thread.
//
// Their exact conventions (sign, scaling, ordering, tie-breaks, status codes,
// rounding points) are load-bearing: the morph stages depend on them.
#pragma once

#include <cstdint>

namespace parlune::voice {

constexpr int kMaxKernelLength = 4096;

// In-place forward complex DFT, no scaling: X[k] = sum x[n] e^(-2 pi i k n / N).
// Decimation in frequency with a final bit-reversal; natural order in and out.
// N must be a power of two with 4 <= N <= 4096, else returns -1 untouched.
int32_t fftRadix2(float* re, float* im, int n);
int32_t fftRadix2(double* re, double* im, int n);

// Inverse transform scaled by 1/N (forward transform with re/im swapped).
int32_t ifftScaled(float* re, float* im, int n);
int32_t ifftScaled(double* re, double* im, int n);

// r[m] = sum_t x[t] x[(t + m) mod n]; n-point, no zero padding.
void circularAutocorrelation(const float* x, int n, float* r);

// Order-p LPC of x (a holds p + 1 values); a[0] = 1 whatever the status.
// Returns 0, -1 (degenerate energy) or -2 (a reflection coefficient reached 1).
// noiseFloor > 0 fits x plus white noise at that fraction of x's power (the
// lag-0 autocorrelation scaled by 1 + noiseFloor), so the model's valleys go
// no deeper than that floor.
int32_t lpcCoefficients(const float* x, int n, int p, float* a, float noiseFloor = 0.0f);

// Levinson-Durbin recursion on autocorrelation r (p + 1 values) into a.
// tol < 0 selects 1e-6. Returns 0, -1 or -2 as lpcCoefficients.
int32_t levinsonDurbin(const float* r, float* a, int p, float tol);

// levinsonDurbin (tolerance 1e-6, same arithmetic and status) that, when a
// reflection coefficient reaches magnitude 1, returns the coefficients of the
// last order whose reflection coefficients all stayed below 1 (the higher
// ones 0, a[0] the square root of that order's prediction error). *orderKept
// receives the order of the returned polynomial.
int32_t levinsonDurbinStable(const float* r, float* a, int p, int* orderKept);

// Order-p LPC like lpcCoefficients (same arithmetic, same status), except
// that when a reflection coefficient reaches magnitude 1 the coefficients of
// the last order whose reflection coefficients all stayed below 1 are kept
// (the higher ones are 0), so the all-pole filter 1/A stays stable. A result
// that is not finite falls back to the trivial polynomial 1. *orderKept, when
// given, receives the order of the returned polynomial.
int32_t lpcCoefficientsStable(const float* x, int n, int p, float* a, int* orderKept);

// Direct-form difference equation with caller-held histories.
// b and a are normalised in place (made monic, gain b[0]/a[0] applied at the
// end). xh holds the previous nb-1 inputs then room for n more; yh the
// previous na-1 outputs (before the gain) then room for n more.
void filterWithHistory(const float* x, int n, float* b, int nb, float* a, int na, float* xh,
                       float* yh, float* y);
void filterWithHistory(const double* x, int n, double* b, int nb, double* a, int na, double* xh,
                       double* yh, double* y);

// H[k] = |B(w)| / |A(w)| at w = pi k / n, k = 0 .. n-1 (2n <= 4096).
void freqzMagnitude(const float* b, int nb, const float* a, int na, int n, float* h);

// Real, even impulse (2n values, peak at 0) whose spectrum is the magnitude M
// (n values).
void zeroPhaseImpulse(const float* m, int n, float* h);

// Inverse transform of the magnitude spectrum of x zero-padded to 2n; the
// first n values of the result go to out.
void magnitudeAutocorrelation(const double* x, int n, double* out);

// Linear interpolation of y (ny values) at positions q (nq values, each in
// 0 .. ny-1; a position at or past ny-1 yields y[ny-1]).
void interpAtPositions(const float* y, int ny, const float* q, int nq, float* out);

// Linear interpolation on an ascending grid (ng points) at ascending queries
// (nq values, none above the last grid value). Ties stay in the lower interval.
void interpOnGrid(const double* grid, const double* values, int ng, const double* queries, int nq,
                  double* out);

// Index of the first maximum of x[from .. to-1]; from when fewer than 2 values.
int argmaxFirst(const double* x, int from, int to);

// Largest sample outside the band lo .. hi: scans 0 .. lo-1 taking ties (the
// later index wins), then hi+1 .. n-1 taking only strictly larger values. The
// running best starts at -1: nothing below -1 wins, and in the second scan -1
// itself does not either; 0 when nothing wins. lo = hi = 0 searches 1 .. n-1.
int peakIndexExcluding(const float* x, int n, int lo, int hi);

// Least-squares line through y (n >= 2): trend and remainder y - trend.
void linearDetrend(const float* y, int n, float* trend, float* rem);
void linearDetrend(const double* y, int n, double* trend, double* rem);

// In-place phase unwrapping (n <= 4096); jumps of exactly +-pi are kept.
void unwrapPhase(double* p, int n);

// v[0] = a, v[i] = v[i-1] + (b - a)/(n - 1) by repeated addition, v[n-1] = b.
void linspace(float a, float b, int n, float* v);
void linspace(double a, double b, int n, double* v);

}  // namespace parlune::voice
