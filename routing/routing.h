// Virtual device routing: while Parlune runs, PARLUNE-01 is the default
// playback device (the switcher program does the switching), the pass-through
// (Looptap) copies its capture side to the user's speaker, and the recorder
// (Capwell) records samples from it.
// The steps keep their fixed pauses: the pass-through and the switcher get
// 200 ms to settle after each action.
//
// Thread contract: one thread at a time (the GUI thread, or the window's step
// runner, which runs the steps in order); every step blocks its caller for its
// pauses.
#pragma once

#include <QString>

#include <functional>
#include <string>

namespace parlune::routing {

// Routed state: the virtual device is the default and the pass-through runs.
void startQuibDefault();
void setQuibDefault();
// Unrouted state: previous default restored, pass-through stopped.
void stopQuibRestore();
void restoreDefault();
void stopSwitcher();
// Stop and restart the pass-through around a recording; isPlaying untouched.
void startQuib();
void stopQuib();
void startRecordQuib();
void stopRecordQuib();

// Whether the default playback device's friendly name contains "Parlune".
bool isQuibDefault();
// The pass-through was started by startQuibDefault and not yet stopped by
// stopQuibRestore.
bool isPlaying();
// Friendly name of the last endpoint whose name was read (also by the
// microphone mute pass).
std::string defaultDeviceName();
void rememberDeviceName(const std::string& friendlyName);

// Start-up check, before the live chain starts. Restores the previous default
// when the virtual device is the default but PlayDev.ini does not name it
// (a run that ended without restoring). Returns true when the virtual device
// is still the default afterwards: the sound settings have then been opened
// and the caller shows "Something is wrong" / "Please set your headset as
// default in sounds settings".
bool startupCheck(bool playDevNamesVirtualDevice);

// pavucontrol, else the desktop's sound settings; a log line when neither
// can be started.
void openSoundControlPanel();

// The switcher program in the data folder (applicationPath + "/swaplane").
QString switcherProgram();

// Looptap ends the whole process when no capture device carries the product
// name. Before each start of the pass-through the routing makes sure the
// virtual device is there (loading it if needed); when it cannot be had, the
// fatal handler shows why and the program exits with code 1.
bool ensureCaptureSide(std::string* why);
// ensureCaptureSide, and on failure the fatal handler and exit code 1. The
// program calls it at start-up; the steps call it before each pass-through start.
void requireVirtualDevice();
void setFatalHandler(std::function<void(const QString& message)> handler);

// The virtual device as the server lists it now: both sides there, a side
// missing, or no server answering.
enum class DeviceHealth { Present, Missing, ServerGone };
DeviceHealth virtualDeviceHealth();
// After the server lost PARLUNE-01 (a restart leaves it without the device
// and with another default): loads it again and, while routed, makes it the
// default again with setQuibDefault (the switcher keeps the device it
// remembered, which is what the end of the run gives back); then restarts a
// freshly loaded sink's clock (vdev::restartVirtualSinkClock). True when the
// device is there and, while routed, the default; otherwise `why` says what
// is missing.
bool repairRouting(std::string* why);

// The libraries the steps drive, handed in by the program that links them
// (Looptap's StartPlaying/StopPlaying, Capwell's three calls), so routing
// depends on neither. A step whose library was not handed in does nothing
// for it.
struct PassThrough {
    void (*start)() = nullptr;
    void (*stop)() = nullptr;
};
void setPassThrough(PassThrough passThrough);

struct Recorder {
    void (*setRecordedFilename)(const char* filename) = nullptr;
    void (*startRecord)() = nullptr;
    void (*stopRecord)() = nullptr;
};
void setRecorder(Recorder recorder);

}  // namespace parlune::routing
