// Small helpers for the audio library's tests: a scratch folder, 16-bit WAV
// files written sample for sample, and a render through the WAV writer.
#pragma once

#include <sndfile.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/audiolib/audiolib.h"
#include "tests/support/test_support.h"

namespace parlune::audiolib::testing {

struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        char pattern[] = "/tmp/parlune-audiolib-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

// Writes 16-bit samples as they are (no float scaling on the way).
inline bool writePcm16(const std::string& path, const std::vector<short>& samples, int rate, int channels) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
    bool ok = sf_writef_short(file, samples.data(), frames) == frames;
    sf_close(file);
    return ok;
}

inline std::vector<short> readPcm16(const std::string& path, int* rate = nullptr) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return {};
    std::vector<short> samples(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    if (rate) *rate = info.samplerate;
    return samples;
}

// Plays `sourcePath` on a 16 kHz mono WAV-writer system, lets `setup` build
// the chain and adjust the channel, renders `blocks` updates and returns what
// was written (floats in -1..1). Empty when any step fails.
inline std::vector<float> renderFile(const ScratchDir& dir, const std::string& sourcePath, int blocks,
                                     const std::function<void(System&, Channel&)>& setup = {},
                                     Mode mode = kModeDefault) {
    const std::string out = dir.file("render-out.wav");
    System system;
    if (createSystem(&system) != Result::Ok) return {};
    system.setOutput(OutputType::WavWriterNrt);
    system.setSoftwareFormat(16000, SpeakerMode::Mono, 1);
    if (system.init(32, kInitNormal, const_cast<char*>(out.c_str())) != Result::Ok) return {};
    Sound sound;
    Channel channel;
    if (system.createSound(sourcePath.c_str(), mode, nullptr, &sound) != Result::Ok) return {};
    if (system.playSound(sound, ChannelGroup(), false, &channel) != Result::Ok) return {};
    if (setup) setup(system, channel);
    for (int i = 0; i < blocks; ++i) system.update();
    system.close();
    system.release();
    return test::readWav(out).samples;
}

}  // namespace parlune::audiolib::testing
