// Engine pieces shared by its source files and reachable by its tests: the
// pause used between passes, and the live chain's gate.
//
// Thread contract: setSleepForTests before any run starts; engineSleep from
// the runs' threads.
#pragma once

#include "engine/run_gate.h"

namespace parlune::engine {

using SleepFunction = void (*)(int milliseconds);
// Replaces the engine's pauses (50 ms per live pass, 42 ms per playback pass);
// tests use it to step a simulated clock. nullptr restores real sleeping.
void setSleepForTests(SleepFunction sleep);
void engineSleep(int milliseconds);

RunGate& liveRunGate();

// Sends the audio library's reports (a device lost, a device back) to the
// debug log; each run calls it before it creates its system.
void logAudioLibrary();

}  // namespace parlune::engine
