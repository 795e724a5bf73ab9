// The remote control on the session bus: the well-known name
// io.github.parlune.Parlune, the object /Parlune and its interface of the
// same name (app/remote_names.h). Each method acts through the window's own
// entry points, as the click or double click it stands for, so the looks and
// the application properties follow as they would; nothing is written behind
// the window's back. VoiceChanged tells of every change of the voice, made in
// the window or by a call.
//
// Methods (positions count from 1, as the lists show them):
//   ApplyPreset(s name)              a preset by name, any case
//   ApplyPresetAt(i position)
//   ApplyFavorite(s name)            a favorite by name, any case; a name
//   ApplyFavoriteAt(i position)      that several slots share is refused
//   NextPreset() -> s name           after the applied one, around the list
//   PreviousPreset() -> s name
//   SetPad(d x, d y)                 pad coordinates, inside the mode's range
//   SetMode(s mode)                  "human" or "cartoon", as HUMAN/CARTOON
//   SetBypass(b bypassed)            the morph switch: NORMAL when true
//   ToggleBypass() -> b bypassed
//   SetEffect(s effect, b on)        echo, reverb, chorus, distortion, tremolo
//   ToggleEffect(s effect) -> b on
//   StartRecording(), StopRecording()
//   GetVoice() -> a{sv}              the keys of remote::key and the effects
// Signal:
//   VoiceChanged(a{sv} voice, as changed)   the whole voice and the keys that
//                                           changed, once per change
//
// Thread contract: GUI thread only; QtDBus delivers the calls to the thread
// of the object, the window's.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "app/desktop_shortcuts.h"

namespace parlune::app {

class MainWindow;

// The voice as the window shows it, GetVoice's answer.
QVariantMap voiceOf(const MainWindow& window);

class RemoteControl : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.parlune.Parlune")
public:
    // Registers the object on the connection, then asks for the name without
    // queueing and without letting anyone replace it later. A child of the
    // window; nullptr (and one log line) when there is no bus or the name is
    // someone else's.
    static RemoteControl* start(MainWindow& window, QDBusConnection connection);
    // Gives the name and the object back.
    ~RemoteControl() override;

public slots:
    Q_SCRIPTABLE void ApplyPreset(const QString& name);
    Q_SCRIPTABLE void ApplyPresetAt(int position);
    Q_SCRIPTABLE void ApplyFavorite(const QString& name);
    Q_SCRIPTABLE void ApplyFavoriteAt(int position);
    Q_SCRIPTABLE QString NextPreset();
    Q_SCRIPTABLE QString PreviousPreset();
    Q_SCRIPTABLE void SetPad(double x, double y);
    Q_SCRIPTABLE void SetMode(const QString& mode);
    Q_SCRIPTABLE void SetBypass(bool bypassed);
    Q_SCRIPTABLE bool ToggleBypass();
    Q_SCRIPTABLE void SetEffect(const QString& effect, bool on);
    Q_SCRIPTABLE bool ToggleEffect(const QString& effect);
    Q_SCRIPTABLE void StartRecording();
    Q_SCRIPTABLE void StopRecording();
    Q_SCRIPTABLE QVariantMap GetVoice();

signals:
    Q_SCRIPTABLE void VoiceChanged(const QVariantMap& voice, const QStringList& changed);

private:
    RemoteControl(MainWindow& window, QDBusConnection connection);
    // The error reply to the call being served, and a log line.
    void refuse(const char* error, const QString& message);
    void queuePublish();
    void publishChanges();

    MainWindow& window_;
    QDBusConnection connection_;
    QVariantMap published_;
    bool publishQueued_ = false;
};

// The program's hotkeys, for the desktop's global shortcuts: the morph switch
// toggled, the next and the previous preset.
QList<Hotkey> defaultHotkeys(MainWindow& window);

// At the program's start: the remote control and the desktop's global
// shortcuts on the session bus, children of the window. Without a session
// bus, one log line and nothing else.
void startRemoteControl(MainWindow& window);

}  // namespace parlune::app
