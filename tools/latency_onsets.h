// The arithmetic of the burst method: a burst is played into a path's input,
// the input's monitor (the reference) and the output's monitor are recorded
// from the same audio server, and the latency of each burst is the time from
// its onset in the reference to its onset in the output. An onset is where
// the RMS envelope (4 ms window, 1 ms hop) rises past a share of the burst's
// peak, placed between envelope points by linear interpolation; the same rule
// on both recordings cancels what bias it has.
//
// Thread contract: plain functions on caller-owned data.
#pragma once

#include <vector>

namespace parlune::tools {

// One monitor's recording: mono samples, and the time of its first frame on
// the clock both recordings share (seconds).
struct TimedRecording {
    std::vector<float> samples;
    int rate = 48000;
    double startSeconds = 0;
};

struct OnsetRules {
    double threshold = 0.25;  // share of the burst's peak an onset rises past
    double minGapMs = 500;    // reference onsets closer than this belong to one burst
    double earliestMs = -50;  // output onsets searched from this long before the reference's ...
    double latestMs = 800;    // ... to this long after it
    double floor = 0.01;      // an output whose envelope stays below this holds no burst
};

// RMS envelope with a 1 ms hop and a 4 ms window: point i is the level of
// the 4 ms that end i + 4 ms after the first frame.
std::vector<double> envelope(const std::vector<float>& x, int rate);

// Burst onsets (ms since the first frame, at the end of the envelope window
// that rises) in a recording of clean bursts: rises past threshold x the
// recording's peak, at least minGapMs apart.
std::vector<double> burstOnsetsMs(const std::vector<double>& envelope, const OnsetRules& rules);

struct BurstFigure {
    double sentSeconds = 0;  // the burst's onset in the reference, shared clock
    double latencyMs = 0;
    bool found = false;  // false: no onset in the output's search window
};

// One figure per burst of the reference: the output's first rise past
// threshold x its peak within the search window around the burst.
std::vector<BurstFigure> measureBursts(const TimedRecording& reference,
                                       const TimedRecording& output, const OnsetRules& rules = {});

// Median of the figures found (middle two averaged for an even count);
// NaN when none was found.
double medianLatencyMs(const std::vector<BurstFigure>& figures);

}  // namespace parlune::tools
