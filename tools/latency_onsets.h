// The arithmetic of the burst method: a voiced burst is played into a path's
// input and, at once, a marker burst high above any voice straight into the
// path's output; the output's monitor hears both, and the latency of each
// burst is the time from the marker's onset to the voice's. The one recording
// is split into its marker band and its voice band (splitMarker), so no two
// recordings need to be placed on one clock. An onset is where the RMS
// envelope (4 ms window, 1 ms hop) rises past a share of the burst's peak,
// placed between envelope points by linear interpolation; the same rule on
// both bands cancels what bias it has.
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

// The marker's carrier: the voiced burst (harmonics below 3 kHz) moved up
// around it lies above 11 kHz, clear of the voice and of a morphed voice,
// which is made at 16 kHz and so lies below 8 kHz.
constexpr double kMarkerHz = 14000;

// The voiced burst: harmonics of 140 Hz with a falling spectrum, 300 ms,
// 5 ms edges, so a morph has a voice to work on.
std::vector<float> voicedBurst(int rate);
// The marker: the voiced burst moved up around kMarkerHz (multiplied by that
// sine), so its envelope rises as the voice's does and the onset rule finds
// both at the same point of their rise.
std::vector<float> markerBurst(int rate);

// One recording of a path's output split into the marker's band (above
// 10 kHz) and the voice's (below 4 kHz), each by four second-order
// Butterworth sections (the marker is 70 dB down in the voice's band, where
// a morphed voice may come out quiet), both on the recording's clock.
struct MarkerSplit {
    TimedRecording marker;
    TimedRecording voice;
};
MarkerSplit splitMarker(const TimedRecording& heard);

// Median of the figures found (middle two averaged for an even count);
// NaN when none was found.
double medianLatencyMs(const std::vector<BurstFigure>& figures);

}  // namespace parlune::tools
