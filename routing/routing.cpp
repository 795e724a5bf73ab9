#include "routing/routing.h"

#include <QDebug>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/core/device_screens.h"
#include "app/core/properties.h"
#include "platform/endpoints/endpoints.h"
#include "platform/pulse/device_directory.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "platform/wave/wave.h"

namespace parlune::routing {
namespace {

constexpr unsigned long kSettleMs = 200;
constexpr int kStreamOnDeviceWaitMs = 1000;
constexpr int kDefaultReadBackMs = 1000;
constexpr int kDefaultReadBackPollMs = 20;
// The switcher finishes in well under a second; waiting for it keeps a
// "restoreplay" from overtaking the "setplay" before it.
constexpr int kSwitcherTimeoutMs = 5000;

bool playing = false;
std::string lastDeviceName;

PassThrough passThrough;
Recorder recorder;

std::function<void(const QString&)> fatalHandler = [](const QString& message) {
    qCritical().noquote() << message;
};

void pause(unsigned long ms) { QThread::msleep(ms); }

QString applicationPath() { return app::properties().get(app::prop::applicationPath); }

// Runs the switcher with an argument list (no command interpreter, so any
// path works); its result is not needed, as before.
void runSwitcher(const QString& argument) {
    QProcess switcher;
    switcher.setProgram(switcherProgram());
    switcher.setArguments({argument});
    switcher.setProcessChannelMode(QProcess::ForwardedChannels);
    switcher.start();
    if (switcher.waitForStarted(kSwitcherTimeoutMs)) switcher.waitForFinished(kSwitcherTimeoutMs);
}

bool captureSidePresent(endpoints::PulseEndpoints& endpoints) {
    const auto list = endpoints.active();
    if (!list) return false;
    for (const auto& e : *list)
        // Looptap sees each name cut to the 31 bytes its device list keeps.
        if (screens::IsCaptureCandidate(wave::capsName(e.friendlyName))) return true;
    return false;
}

void startPassThrough() {
    requireVirtualDevice();
    if (passThrough.start) passThrough.start();
}

void stopPassThrough() {
    if (passThrough.stop) passThrough.stop();
}

}  // namespace

QString switcherProgram() { return applicationPath() + QStringLiteral("/swaplane"); }

bool isPlaying() { return playing; }
std::string defaultDeviceName() { return lastDeviceName; }
void rememberDeviceName(const std::string& friendlyName) { lastDeviceName = friendlyName; }

void setPassThrough(PassThrough p) { passThrough = p; }
void setRecorder(Recorder r) { recorder = r; }
void setFatalHandler(std::function<void(const QString&)> handler) {
    fatalHandler = std::move(handler);
}

bool ensureCaptureSide(std::string* why) {
    endpoints::PulseEndpoints endpoints;
    if (!endpoints.available()) {
        if (why) *why = "the audio server is not reachable";
        return false;
    }
    if (captureSidePresent(endpoints)) return true;
    pulse::PulseClient client("Parlune");
    const auto outcome = vdev::ensureVirtualDevice(client);
    if (!outcome.ok) {
        if (why) *why = outcome.message;
        return false;
    }
    if (captureSidePresent(endpoints)) return true;
    if (why) *why = "its microphone did not appear";
    return false;
}

DeviceHealth virtualDeviceHealth() {
    const auto directory = pulse::DeviceDirectory::shared();
    const auto sinks = directory->playbackDevices();
    const auto sources = directory->captureDevices();
    if (!sinks || !sources) return DeviceHealth::ServerGone;
    const auto named = [](const std::vector<pulse::DeviceInfo>& devices, const char* name) {
        return std::any_of(devices.begin(), devices.end(),
                           [&](const pulse::DeviceInfo& d) { return d.name == name; });
    };
    return named(*sinks, vdev::kSinkName) && named(*sources, vdev::kSourceName)
               ? DeviceHealth::Present
               : DeviceHealth::Missing;
}

namespace {
// The switcher returns once the server reads the new default back to it;
// pipewire-pulse may show it to this process a moment later, and its session
// manager may still move it once.
bool becameQuibDefault() {
    for (int waited = 0;; waited += kDefaultReadBackPollMs) {
        if (isQuibDefault()) return true;
        if (waited >= kDefaultReadBackMs) return false;
        pause(kDefaultReadBackPollMs);
    }
}
}  // namespace

bool repairRouting(std::string* why) {
    pulse::PulseClient client("Parlune");
    if (!client.connected()) {
        if (why) *why = "the audio server is not reachable";
        return false;
    }
    const auto outcome = vdev::ensureVirtualDevice(client);
    if (!outcome.ok) {
        if (why) *why = outcome.message;
        return false;
    }
    if (playing) setQuibDefault();
    // Once the live chain's output, which follows the default, is on the new
    // sink; it opens again within a fraction of a second of the server's return.
    if (outcome.changed) vdev::restartVirtualSinkClock(client, kStreamOnDeviceWaitMs);
    if (playing && !becameQuibDefault()) {
        if (why) *why = "PARLUNE-01 did not become the default playback device";
        return false;
    }
    return true;
}

void requireVirtualDevice() {
    std::string why;
    if (ensureCaptureSide(&why)) return;
    fatalHandler(QStringLiteral("Parlune cannot start: the virtual audio device PARLUNE-01 is "
                                "not available (%1).")
                     .arg(QString::fromStdString(why)));
    std::exit(1);
}

bool isQuibDefault() {
    endpoints::PulseEndpoints endpoints;
    const auto name = endpoints.defaultPlaybackName();
    if (!name) return false;
    rememberDeviceName(*name);
    return name->find("Parlune") != std::string::npos;
}

void startQuibDefault() {
    qDebug("Start Quib, make Quib the default playback device..........");
    if (!playing) {
        startPassThrough();
        pause(kSettleMs);
        playing = true;
    }
    setQuibDefault();
}

void setQuibDefault() {
    pause(kSettleMs);
    if (!isQuibDefault()) runSwitcher(QStringLiteral("setplay"));
}

void stopQuibRestore() {
    qDebug("Stop Quib, restore default audio playback device..........");
    restoreDefault();
    if (playing) {
        qDebug("Stop Quib, restore default audio playback device :isPlaying..........");
        stopPassThrough();
        pause(kSettleMs);
        playing = false;
    }
}

void restoreDefault() {
    pause(kSettleMs);
    runSwitcher(QStringLiteral("restoreplay"));
}

void stopSwitcher() {
    qDebug("stopSwitcher..........");
    restoreDefault();
}

void startQuib() {
    qDebug("Start Quib..........");
    startPassThrough();
    pause(kSettleMs);
}

void stopQuib() {
    qDebug("Stop Quib..........");
    stopPassThrough();
    pause(kSettleMs);
}

void startRecordQuib() {
    qDebug("Start Record Quib");
    const QByteArray file =
        (applicationPath() + QStringLiteral("/media/recorded.wav")).toLocal8Bit();
    if (recorder.setRecordedFilename) recorder.setRecordedFilename(file.constData());
    if (recorder.startRecord) recorder.startRecord();
    pause(kSettleMs);
}

void stopRecordQuib() {
    qDebug("Stop Record Quib");
    if (recorder.stopRecord) recorder.stopRecord();
    qDebug("66666666666666666666666666");
    pause(kSettleMs);
}

bool startupCheck(bool playDevNamesVirtualDevice) {
    if (!playDevNamesVirtualDevice && isQuibDefault()) {
        qDebug("+++++++++++++++++ STOP");
        stopSwitcher();
    }
    if (!isQuibDefault()) return false;
    openSoundControlPanel();
    return true;
}

void openSoundControlPanel() {
    if (QProcess::startDetached(QStringLiteral("pavucontrol"), {})) return;
    if (QProcess::startDetached(QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}))
        return;
    if (QProcess::startDetached(QStringLiteral("systemsettings"),
                                {QStringLiteral("kcm_pulseaudio")}))
        return;
    qDebug("No sound settings program found (pavucontrol, gnome-control-center, systemsettings)");
}

}  // namespace parlune::routing
