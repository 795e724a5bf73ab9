// Helpers shared by the test suites: WAV files, synthetic signals, an F0
// tracker, and the check for the private audio server the suite runs against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace parlune::test {

// Path of the speech sample made at build time (16 kHz mono).
std::string speechSamplePath();

struct Wav {
    std::vector<float> samples;  // interleaved
    int rate = 0;
    int channels = 0;
};
Wav readWav(const std::string& path);  // empty samples when unreadable
bool writeWav(const std::string& path, const std::vector<float>& samples, int rate,
              int channels = 1);
// The same as 16-bit samples taken and written as they are (no float scaling
// on the way).
std::vector<short> readPcm16(const std::string& path, int* rate = nullptr);
bool writePcm16(const std::string& path, const std::vector<short>& samples, int rate,
                int channels = 1);

// Voiced test signal: an impulse train of the given period (samples) through a
// two-formant resonator, peak about 0.5.
std::vector<float> voicedSignal(int length, double periodSamples, int rate = 16000);
std::vector<float> sine(int length, double freqHz, int rate, double amplitude = 0.5);
// Full-scale white noise from a fixed linear congruential generator: the same
// samples for the same seed on every machine.
std::vector<float> whiteNoise(size_t length, uint32_t seed);

// Median F0 (Hz) over voiced frames (normalised autocorrelation > 0.5) of a
// mono signal, searched between minHz and maxHz. 0 when nothing is voiced.
double medianF0(const std::vector<float>& x, int rate, double minHz = 60, double maxHz = 500);

// The F0 (Hz) of a recorded voice as the demo and the soak measure it
// (scripts/voice-f0.sh: aubiopitch, the median of the voice's densest band
// of frames, so a harmonic the tracker locks onto now and then does not move
// it). 0 when nothing is voiced or the script cannot run; `frames` (if given)
// receives the frames in the band.
double voiceF0(const std::string& wavPath, int* frames = nullptr);

// Offset (samples) of `probe` inside `signal` by cross-correlation, or -1.
long findOffset(const std::vector<float>& signal, const std::vector<float>& probe);

double rms(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX);
bool allFinite(const std::vector<float>& x);

// A fresh folder under /tmp (its name has a space, on purpose), removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A whole file's bytes (empty when it cannot be read), and a file replaced by bytes.
std::string readFileBytes(const std::string& path);
bool writeFileBytes(const std::string& path, const std::string& bytes);

// True when the suite's private audio server should be there (the test script
// sets PARLUNE_REQUIRE_PULSE=1). Tests that need it call this macro, which
// skips them outside the test script and fails them inside it when the
// server is missing.
bool pulseRequired();
bool pulseAvailable();
// Ends the private server's pulse side and starts it again with the same
// devices (the test script's restart command); returns once it answers.
// False when there is no such command (outside the test script) or it failed.
bool restartPrivateServer();
bool canRestartPrivateServer();
#define PARLUNE_NEED_PULSE()                                                 \
    do {                                                                     \
        if (!::parlune::test::pulseAvailable()) {                            \
            if (::parlune::test::pulseRequired())                            \
                FAIL() << "the private audio server is not reachable";       \
            GTEST_SKIP() << "no audio server (run through scripts/test.sh)"; \
        }                                                                    \
    } while (0)

}  // namespace parlune::test
