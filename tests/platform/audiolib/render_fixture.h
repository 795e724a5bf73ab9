// Small helpers for the audio library's tests: a scratch folder and a render
// through the WAV writer.
#pragma once

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

// Plays `sourcePath` on a 16 kHz mono WAV-writer system, lets `setup` build
// the chain and adjust the channel, renders `blocks` updates and returns what
// was written (floats in -1..1). Empty when any step fails.
inline std::vector<float> renderFile(const ScratchDir& dir, const std::string& sourcePath,
                                     int blocks,
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
