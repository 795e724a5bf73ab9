#include "tests/support/test_support.h"

#include "tests/support/run_program.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace parlune::test {

std::string speechSamplePath() { return PARLUNE_SPEECH_WAV; }

namespace {

// libsndfile's float calls scale to -1..1; its short calls pass 16-bit samples
// through as they are.
sf_count_t readFrames(SNDFILE* file, float* out, sf_count_t frames) {
    return sf_readf_float(file, out, frames);
}
sf_count_t readFrames(SNDFILE* file, short* out, sf_count_t frames) {
    return sf_readf_short(file, out, frames);
}
sf_count_t writeFrames(SNDFILE* file, const float* in, sf_count_t frames) {
    return sf_writef_float(file, in, frames);
}
sf_count_t writeFrames(SNDFILE* file, const short* in, sf_count_t frames) {
    return sf_writef_short(file, in, frames);
}

template <typename Sample>
std::vector<Sample> readSamples(const std::string& path, int* rate, int* channels) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return {};
    if (rate) *rate = info.samplerate;
    if (channels) *channels = info.channels;
    std::vector<Sample> samples(static_cast<size_t>(info.frames) * info.channels);
    sf_count_t got = readFrames(file, samples.data(), info.frames);
    samples.resize(static_cast<size_t>(got) * info.channels);
    sf_close(file);
    return samples;
}

template <typename Sample>
bool writeSamples(const std::string& path, const std::vector<Sample>& samples, int rate,
                  int channels) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
    bool ok = writeFrames(file, samples.data(), frames) == frames;
    sf_close(file);
    return ok;
}

}  // namespace

Wav readWav(const std::string& path) {
    Wav wav;
    wav.samples = readSamples<float>(path, &wav.rate, &wav.channels);
    return wav;
}

bool writeWav(const std::string& path, const std::vector<float>& samples, int rate, int channels) {
    return writeSamples(path, samples, rate, channels);
}

std::vector<short> readPcm16(const std::string& path, int* rate) {
    return readSamples<short>(path, rate, nullptr);
}

bool writePcm16(const std::string& path, const std::vector<short>& samples, int rate,
                int channels) {
    return writeSamples(path, samples, rate, channels);
}

std::vector<float> voicedSignal(int length, double periodSamples, int rate) {
    std::vector<double> excitation(length, 0.0);
    for (double t = 0; t < length; t += periodSamples) excitation[static_cast<size_t>(t)] = 1.0;
    // Two resonators in cascade (700 Hz and 1200 Hz, 100 Hz bandwidth).
    std::vector<double> y = excitation;
    for (double formantHz : {700.0, 1200.0}) {
        double r = std::exp(-M_PI * 100.0 / rate);
        double a1 = -2 * r * std::cos(2 * M_PI * formantHz / rate), a2 = r * r;
        double y1 = 0, y2 = 0;
        for (int n = 0; n < length; ++n) {
            double v = y[n] - a1 * y1 - a2 * y2;
            y2 = y1;
            y1 = v;
            y[n] = v;
        }
    }
    double peak = 1e-12;
    for (double v : y) peak = std::max(peak, std::fabs(v));
    std::vector<float> out(length);
    for (int n = 0; n < length; ++n) out[n] = static_cast<float>(0.5 * y[n] / peak);
    return out;
}

std::vector<float> sine(int length, double freqHz, int rate, double amplitude) {
    std::vector<float> out(length);
    for (int n = 0; n < length; ++n)
        out[n] = static_cast<float>(amplitude * std::sin(2 * M_PI * freqHz * n / rate));
    return out;
}

std::vector<float> whiteNoise(size_t length, uint32_t seed) {
    std::vector<float> x(length);
    for (auto& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(seed >> 8) / float(1 << 23) - 1.0f;
    }
    return x;
}

double medianF0(const std::vector<float>& x, int rate, double minHz, double maxHz) {
    const int frame = rate / 25;  // 40 ms
    const int hop = frame / 2;
    const int minLag = static_cast<int>(rate / maxHz);
    const int maxLag = static_cast<int>(rate / minHz);
    std::vector<double> f0s;
    for (size_t start = 0; start + frame + maxLag < x.size(); start += hop) {
        const float* s = x.data() + start;
        double energy0 = 0;
        for (int n = 0; n < frame; ++n) energy0 += double(s[n]) * s[n];
        if (energy0 < 1e-6 * frame) continue;
        double best = 0;
        int bestLag = 0;
        std::vector<double> nacf(maxLag + 2, 0.0);
        for (int lag = minLag; lag <= maxLag + 1; ++lag) {
            double c = 0, e1 = 0;
            for (int n = 0; n < frame; ++n) {
                c += double(s[n]) * s[n + lag];
                e1 += double(s[n + lag]) * s[n + lag];
            }
            nacf[lag] = c / std::sqrt(energy0 * e1 + 1e-20);
        }
        // First lag whose peak is within 10 % of the best one (avoids octave
        // errors towards longer lags).
        for (int lag = minLag; lag <= maxLag; ++lag) best = std::max(best, nacf[lag]);
        if (best < 0.5) continue;
        for (int lag = minLag + 1; lag <= maxLag; ++lag) {
            if (nacf[lag] >= 0.9 * best && nacf[lag] >= nacf[lag - 1] &&
                nacf[lag] >= nacf[lag + 1]) {
                bestLag = lag;
                break;
            }
        }
        if (bestLag == 0) continue;
        // Parabolic refinement of the peak.
        double a = nacf[bestLag - 1], b = nacf[bestLag], c = nacf[bestLag + 1];
        double denom = a - 2 * b + c;
        double shift = denom != 0 ? 0.5 * (a - c) / denom : 0.0;
        f0s.push_back(rate / (bestLag + shift));
    }
    if (f0s.empty()) return 0.0;
    std::nth_element(f0s.begin(), f0s.begin() + f0s.size() / 2, f0s.end());
    return f0s[f0s.size() / 2];
}

double voiceF0(const std::string& wavPath, int* frames) {
    const ProgramResult r =
        runProgram({"bash", std::string(PARLUNE_SOURCE_DIR) + "/scripts/voice-f0.sh", wavPath});
    double hz = 0;
    int inBand = 0;
    if (r.exitCode != 0 || std::sscanf(r.output.c_str(), "%lf %d", &hz, &inBand) != 2) return 0.0;
    if (frames) *frames = inBand;
    return hz;
}

long findOffset(const std::vector<float>& signal, const std::vector<float>& probe) {
    if (probe.empty() || signal.size() < probe.size()) return -1;
    double best = 0;
    long bestAt = -1;
    for (size_t at = 0; at + probe.size() <= signal.size(); ++at) {
        double c = 0;
        for (size_t n = 0; n < probe.size(); ++n) c += double(signal[at + n]) * probe[n];
        if (c > best) {
            best = c;
            bestAt = static_cast<long>(at);
        }
    }
    return bestAt;
}

double rms(const std::vector<float>& x, size_t from, size_t to) {
    to = std::min(to, x.size());
    if (from >= to) return 0.0;
    double sum = 0;
    for (size_t n = from; n < to; ++n) sum += double(x[n]) * x[n];
    return std::sqrt(sum / (to - from));
}

bool allFinite(const std::vector<float>& x) {
    return std::all_of(x.begin(), x.end(), [](float v) { return std::isfinite(v); });
}

TempDir::TempDir() {
    char pattern[] = "/tmp/parlune test XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) throw std::runtime_error("no temporary folder");
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool writeFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

bool pulseRequired() {
    const char* v = std::getenv("PARLUNE_REQUIRE_PULSE");
    return v && std::string(v) == "1";
}

bool pulseAvailable() { return runProgram({"pactl", "info"}, {}, 10000).exitCode == 0; }

bool canRestartPrivateServer() {
    const char* ctl = std::getenv("PRIVATE_PULSE_CTL");
    return ctl && *ctl && std::getenv("PRIVATE_PULSE_DIR");
}

bool restartPrivateServer() {
    if (!canRestartPrivateServer()) return false;
    return runProgram({"bash", std::getenv("PRIVATE_PULSE_CTL"), "restart"}, {}, 20000).exitCode ==
           0;
}

}  // namespace parlune::test
