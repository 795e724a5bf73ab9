#include "looptap/looptap.h"

#include <unistd.h>

#include <cstdio>

#include "looptap/config.h"
#include "looptap/pipe.h"

namespace parlune::looptap {
namespace {

CPipe* thePipe = nullptr;
std::string playbackDeviceName;
bool firstStart = true;

constexpr int kBufferFrames = 512;
constexpr uint32_t kRate = 44100;
constexpr uint16_t kBits = 16;
constexpr uint16_t kChannels = 2;

DeviceNames playbackDeviceNames() {
    DeviceNames names;
    const unsigned count = wave::outGetNumDevs();
    for (unsigned i = 0; i < count; ++i) {
        wave::OutCaps caps;
        if (wave::outGetDevCaps(i, &caps) == wave::kOk)
            names.emplace_back(caps.name);
        else
            names.emplace_back(std::nullopt);
    }
    return names;
}

DeviceNames captureDeviceNames() {
    DeviceNames names;
    const unsigned count = wave::inGetNumDevs();
    for (unsigned i = 0; i < count; ++i) {
        wave::InCaps caps;
        if (wave::inGetDevCaps(i, &caps) == wave::kOk)
            names.emplace_back(caps.name);
        else
            names.emplace_back(std::nullopt);
    }
    return names;
}

template <typename Side>
void setFormat(Side& side) {
    side.SetBufferFrames(kBufferFrames);
    side.setPriority(wave::ThreadPriority::TimeCritical);
    side.SetRate(kRate);
    side.SetBitsPerSample(kBits);
    side.SetChannels(kChannels);
}

}  // namespace
}  // namespace parlune::looptap

using namespace parlune::looptap;

extern "C" void StartPlaying(void) {
    playbackDeviceName = ReadPlaybackDeviceName();
    delete thePipe;
    thePipe = new CPipe();

    // With no speaker past the name screen the playback side stays closed
    // (its open reports the bad device) rather than playing into the
    // virtual device and feeding it back to itself.
    thePipe->m_playbackDevice =
        ChoosePlaybackDevice(playbackDeviceNames(), playbackDeviceName, &firstStart);
    thePipe->m_captureDevice = ChooseCaptureDevice(captureDeviceNames());
    if (thePipe->m_captureDevice < 0) _exit(1);

    setFormat(thePipe->m_in);
    setFormat(thePipe->m_out);
    thePipe->StartInputSide();
    thePipe->m_out.Start(nullptr);
    thePipe->m_running = true;
}

extern "C" void StopPlaying(void) {
    if (!thePipe) return;
    // Cleared first so that a playback handler still waiting for the first
    // blocks lets go at once.
    thePipe->m_running = false;
    thePipe->m_in.Stop();
    thePipe->m_out.Stop();
    std::fprintf(stderr,
                 "Looptap stops: %d blocks passed, %d dropped to hold the delay, %d played again "
                 "on an empty ring\n",
                 thePipe->m_written.load(), thePipe->m_dropped.load(), thePipe->m_replayed.load());
    delete thePipe;
    thePipe = nullptr;
}
