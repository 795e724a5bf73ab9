// The in-process backend: named test devices that need no audio server, with
// a clock the test controls, so engine and window tests are deterministic.
//
// Select it for every system whose output is AutoDetect with
// setDefaultBackend(Backend::InProcess), or per system with
// System::setOutput(OutputType::InProcess), or for a whole process with the
// environment: PARLUNE_AUDIO_BACKEND=inprocess and optionally
// PARLUNE_INPROCESS_DEVICES (see configureFromText) and
// PARLUNE_INPROCESS_SPEED (real-time clock speed, default 1).
//
// Clock: in Manual mode nothing moves until advance() is called; it then runs,
// on the caller's thread and in time order, every capture chunk and mixer
// block of every initialised in-process system that falls due. In RealTime
// mode one backend thread runs them, paced at `speed` times real time: it is
// the mixer thread of every in-process system.
//
// Thread contract: configuration and clock calls from any thread (they
// serialise on one lock); configure before the systems that use the devices
// are initialised.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace parlune::audiolib::inprocess {

enum class Backend { Pulse, InProcess };
// The backend that OutputType::AutoDetect picks (default: from the
// environment, else Pulse).
void setDefaultBackend(Backend backend);
Backend defaultBackend();

struct PlaybackDevice {
    std::string name;  // the driver name
    int rate = 48000;
    int channels = 2;
};

struct CaptureDevice {
    std::string name;
    int rate = 48000;
    int channels = 1;
    // Source of the captured signal, looped: a WAV file (resampled to `rate`
    // when its rate differs), else the generator, else a sine of toneHz.
    std::string wavPath;
    // Called on the delivering thread with (frame index since the start,
    // channel); must not block.
    std::function<float(uint64_t frame, int channel)> generator;
    double toneHz = 440.0;
    float amplitude = 0.5f;
    // Granularity of delivery: the record position moves in steps of this.
    unsigned chunkMs = 10;
};

// Replaces the device lists. Index 0 of each list is the default device.
void configure(const std::vector<PlaybackDevice>& playback,
               const std::vector<CaptureDevice>& capture);
// "play:Speaker:48000:2;rec:Microphone:48000:1:tone=220:chunk=80;rec:Line:44100:2:wav=/x.wav"
// Returns false (and changes nothing) on a malformed text.
bool configureFromText(const std::string& text);
// Two playback devices (Speaker 48 kHz stereo, Headphones 44.1 kHz stereo) and
// two capture devices (Microphone 48 kHz mono, Line In 44.1 kHz stereo).
void configureDefaults();

enum class ClockMode { Manual, RealTime };
void setClock(ClockMode mode, double speed = 1.0);
// Manual mode: moves time forward and runs everything that falls due.
void advance(double milliseconds);
// Simulated time since configure() or the last resetClock(), in ms.
double now();
void resetClock();

// What the mixers played on a device, as mixed: software-format rate, mono.
// It copies up to two minutes of samples under the lock every mixer block and
// capture chunk takes, so call it with the clock in Manual mode, never while a
// RealTime clock is driving mixers.
std::vector<float> played(const std::string& deviceName);
void clearPlayed();

// Makes a capture device fail (as if unplugged): its recordings stop.
void unplugCapture(const std::string& deviceName);

}  // namespace parlune::audiolib::inprocess
