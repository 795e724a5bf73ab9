// Looptap: copies the virtual device's capture side to the speaker named in
// the first line of config.ini in the data folder. The only two symbols
// liblooptap.so exports.
// Each returns once the devices are started or stopped.
//
// Thread contract: call from one thread at a time, never both at once (the program's GUI thread).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Reads config.ini, replaces any running pass-through by a new one on the
// chosen devices and starts it. Ends the process with exit code 1 when no
// capture device carries the product name.
__attribute__((visibility("default"))) void StartPlaying(void);
// Stops capture, then playback, and releases both; does nothing when idle.
__attribute__((visibility("default"))) void StopPlaying(void);

#ifdef __cplusplus
}
#endif
