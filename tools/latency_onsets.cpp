#include "tools/latency_onsets.h"

#include <algorithm>
#include <cmath>

namespace parlune::tools {

namespace {

constexpr int kWindowMs = 4;

// Where env crosses `level` going up between points i - 1 and i, in points.
double crossing(const std::vector<double>& env, size_t i, double level) {
    const double rise = env[i] - env[i - 1];
    return rise > 0 ? double(i - 1) + (level - env[i - 1]) / rise : double(i);
}

// First upward crossing of `level` in points [from, to); -1 when none.
double firstRise(const std::vector<double>& env, size_t from, size_t to, double level) {
    for (size_t i = std::max<size_t>(from, 1); i < to && i < env.size(); ++i)
        if (env[i] >= level && env[i - 1] < level) return crossing(env, i, level);
    return -1;
}

}  // namespace

std::vector<double> envelope(const std::vector<float>& x, int rate) {
    const size_t hop = static_cast<size_t>(rate / 1000);
    const size_t window = hop * kWindowMs;
    std::vector<double> env;
    if (hop == 0) return env;
    for (size_t at = 0; at + window <= x.size(); at += hop) {
        double sum = 0;
        for (size_t n = 0; n < window; ++n) sum += double(x[at + n]) * x[at + n];
        env.push_back(std::sqrt(sum / window));
    }
    return env;
}

std::vector<double> burstOnsetsMs(const std::vector<double>& env, const OnsetRules& rules) {
    std::vector<double> onsets;
    if (env.empty()) return onsets;
    const double peak = *std::max_element(env.begin(), env.end());
    if (peak < rules.floor) return onsets;
    const double level = rules.threshold * peak;
    for (size_t i = 1; i < env.size(); ++i) {
        if (env[i] < level || env[i - 1] >= level) continue;
        const double at = crossing(env, i, level);
        const double atMs = at + kWindowMs;
        if (onsets.empty() || atMs - onsets.back() >= rules.minGapMs) onsets.push_back(atMs);
    }
    return onsets;
}

std::vector<BurstFigure> measureBursts(const TimedRecording& reference,
                                       const TimedRecording& output, const OnsetRules& rules) {
    const std::vector<double> referenceEnv = envelope(reference.samples, reference.rate);
    const std::vector<double> outputEnv = envelope(output.samples, output.rate);
    std::vector<BurstFigure> figures;
    for (double onsetMs : burstOnsetsMs(referenceEnv, rules)) {
        BurstFigure figure;
        figure.sentSeconds = reference.startSeconds + onsetMs / 1000.0;
        // The search window in output points: point i ends i + kWindowMs ms
        // after the output's first frame.
        const double sentInOutputMs = (figure.sentSeconds - output.startSeconds) * 1000.0;
        const double fromPoint = std::max(0.0, sentInOutputMs + rules.earliestMs - kWindowMs);
        const double toPoint = sentInOutputMs + rules.latestMs - kWindowMs;
        if (toPoint > 0 && fromPoint < double(outputEnv.size())) {
            const size_t from = static_cast<size_t>(fromPoint);
            const size_t to =
                std::min(outputEnv.size(), static_cast<size_t>(std::ceil(toPoint)) + 1);
            const double peak = *std::max_element(outputEnv.begin() + from, outputEnv.begin() + to);
            const double at =
                peak >= rules.floor ? firstRise(outputEnv, from, to, rules.threshold * peak) : -1;
            if (at >= 0) {
                figure.found = true;
                figure.latencyMs = at + kWindowMs - sentInOutputMs;
            }
        }
        figures.push_back(figure);
    }
    return figures;
}

namespace {

// A second-order Butterworth section (Q = 1/sqrt(2)) run over x in place.
void butterworth(std::vector<float>& x, int rate, double hz, bool highPass) {
    const double w = 2 * M_PI * hz / rate;
    const double alpha = std::sin(w) / std::sqrt(2.0);
    const double c = std::cos(w);
    const double a0 = 1 + alpha;
    const double b0 = (highPass ? (1 + c) : (1 - c)) / 2 / a0;
    const double b1 = (highPass ? -(1 + c) : (1 - c)) / a0;
    const double b2 = b0;
    const double a1 = -2 * c / a0;
    const double a2 = (1 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (float& sample : x) {
        const double y = b0 * sample + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = sample;
        y2 = y1;
        y1 = y;
        sample = static_cast<float>(y);
    }
}

TimedRecording filtered(const TimedRecording& heard, double hz, bool highPass) {
    TimedRecording band = heard;
    for (int section = 0; section < 4; ++section)
        butterworth(band.samples, band.rate, hz, highPass);
    return band;
}

}  // namespace

std::vector<float> voicedBurst(int rate) {
    const int length = rate * 3 / 10;
    const int edge = rate / 200;
    std::vector<float> burst(length);
    for (int n = 0; n < length; ++n) {
        double v = 0;
        for (int h = 1; h <= 20; ++h) v += std::sin(2 * M_PI * 140.0 * h * n / rate) / h;
        const double ramp = std::min({1.0, double(n) / edge, double(length - 1 - n) / edge});
        burst[n] = static_cast<float>(0.25 * v * ramp);
    }
    return burst;
}

std::vector<float> markerBurst(int rate) {
    std::vector<float> burst = voicedBurst(rate);
    for (size_t n = 0; n < burst.size(); ++n)
        burst[n] *= static_cast<float>(std::sin(2 * M_PI * kMarkerHz * double(n) / rate));
    return burst;
}

MarkerSplit splitMarker(const TimedRecording& heard) {
    return {filtered(heard, 10000, true), filtered(heard, 4000, false)};
}

double medianLatencyMs(const std::vector<BurstFigure>& figures) {
    std::vector<double> found;
    for (const BurstFigure& figure : figures)
        if (figure.found) found.push_back(figure.latencyMs);
    if (found.empty()) return NAN;
    std::sort(found.begin(), found.end());
    const size_t mid = found.size() / 2;
    return found.size() % 2 ? found[mid] : (found[mid - 1] + found[mid]) / 2;
}

}  // namespace parlune::tools
