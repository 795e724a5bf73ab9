#include "app/remote_control.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDebug>
#include <QTimer>

#include <cmath>
#include <iterator>
#include <utility>

#include "app/core/properties.h"
#include "app/main_window.h"
#include "app/remote_names.h"
#include "ui/core/presets.h"

namespace parlune::app {
namespace {

using Switch = MainWindow::Switch;

constexpr Switch kEffectSwitches[] = {Switch::Echo, Switch::Reverb, Switch::Chorus,
                                      Switch::Distortion, Switch::Tremolo};
static_assert(std::size(kEffectSwitches) == std::size(remote::kEffects),
              "one switch per effect name");

// The effect's switch by its name in any case; false when there is none.
bool effectSwitch(const QString& name, Switch* which) {
    for (size_t i = 0; i < std::size(remote::kEffects); ++i)
        if (name.compare(QLatin1String(remote::kEffects[i]), Qt::CaseInsensitive) == 0) {
            *which = kEffectSwitches[i];
            return true;
        }
    return false;
}

QString effectNames() {
    QStringList names;
    for (const char* name : remote::kEffects) names << QString::fromLatin1(name);
    return names.join(QLatin1String(", "));
}

QString presetNames() {
    QStringList names;
    for (const ui::Preset& preset : ui::presets()) names << QString::fromLatin1(preset.name);
    return names.join(QLatin1String(", "));
}

bool toggle(MainWindow& window, Switch which) {
    window.setSwitch(which, !window.switchOn(which));
    return window.switchOn(which);
}

QString number(double value) { return QString::number(value, 'g', 4); }

// A preset's name by its index from 0; empty for -1 (none).
QString presetName(int index) {
    return index >= 0 ? QString::fromLatin1(ui::presets()[static_cast<size_t>(index)].name)
                      : QString();
}

QString modeName() {
    return properties().get(prop::isCartoonMorph) ? QStringLiteral("cartoon")
                                                  : QStringLiteral("human");
}

}  // namespace

QVariantMap voiceOf(const MainWindow& window) {
    QVariantMap voice;
    PropertyStore& store = properties();
    voice.insert(QLatin1String(remote::key::mode), modeName());
    voice.insert(QLatin1String(remote::key::pitch), store.get(prop::pitch));
    voice.insert(QLatin1String(remote::key::formant), store.get(prop::formant));
    voice.insert(QLatin1String(remote::key::padX), window.padX());
    voice.insert(QLatin1String(remote::key::padY), window.padY());
    const int preset = window.appliedPreset();
    voice.insert(QLatin1String(remote::key::preset), presetName(preset));
    voice.insert(QLatin1String(remote::key::presetPosition), preset + 1);
    const int favorite = window.appliedFavorite();
    voice.insert(QLatin1String(remote::key::favorite),
                 favorite >= 0 ? window.favoriteName(favorite) : QString());
    voice.insert(QLatin1String(remote::key::favoritePosition), favorite + 1);
    voice.insert(QLatin1String(remote::key::bypass), !window.switchOn(Switch::Morph));
    for (size_t i = 0; i < std::size(remote::kEffects); ++i)
        voice.insert(QLatin1String(remote::kEffects[i]), window.switchOn(kEffectSwitches[i]));
    voice.insert(QLatin1String(remote::key::recording), window.recording());
    return voice;
}

RemoteControl* RemoteControl::start(MainWindow& window, QDBusConnection connection) {
    if (!connection.isConnected()) {
        qDebug().noquote() << QStringLiteral("Remote control off: no session bus (%1)")
                                  .arg(connection.lastError().message());
        return nullptr;
    }
    // The object first, so a call that comes the moment the name is ours
    // finds it.
    auto* service = new RemoteControl(window, connection);
    if (!connection.registerObject(
            QLatin1String(remote::kPath), service,
            QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals)) {
        qDebug().noquote() << QStringLiteral("Remote control off: %1 is taken on this connection")
                                  .arg(QLatin1String(remote::kPath));
        delete service;
        return nullptr;
    }
    // Never queued behind another owner and never handed over: a program
    // that asks for the name later, even to replace its owner, is refused.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        connection.interface()->registerService(QLatin1String(remote::kService),
                                                QDBusConnectionInterface::DontQueueService,
                                                QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        const QString owner =
            connection.interface()->serviceOwner(QLatin1String(remote::kService)).value();
        qDebug().noquote() << QStringLiteral("Remote control off: %1 belongs to %2")
                                  .arg(QLatin1String(remote::kService),
                                       owner.isEmpty() ? reply.error().message() : owner);
        connection.unregisterObject(QLatin1String(remote::kPath));
        delete service;
        return nullptr;
    }
    qDebug().noquote() << QStringLiteral("Remote control on the session bus as %1")
                              .arg(QLatin1String(remote::kService));
    return service;
}

RemoteControl::RemoteControl(MainWindow& window, QDBusConnection connection)
    : QObject(&window), window_(window), connection_(std::move(connection)) {
    setObjectName(QStringLiteral("remoteControl"));
    published_ = voiceOf(window_);
    connect(&window_, &MainWindow::voiceChanged, this, &RemoteControl::queuePublish);
}

RemoteControl::~RemoteControl() {
    // Only a connection this object registered on has anything to give back.
    if (connection_.objectRegisteredAt(QLatin1String(remote::kPath)) != this) return;
    connection_.unregisterObject(QLatin1String(remote::kPath));
    connection_.unregisterService(QLatin1String(remote::kService));
}

void RemoteControl::refuse(const char* error, const QString& message) {
    qDebug().noquote() << QStringLiteral("Remote call refused: ") + message;
    if (calledFromDBus()) sendErrorReply(QLatin1String(error), message);
}

// --- Presets and favorites ---------------------------------------------------

void RemoteControl::ApplyPreset(const QString& name) {
    const ui::Preset* preset = ui::findPreset(name.toStdString());
    if (!preset) {
        refuse(remote::kErrorInvalidArgs,
               QStringLiteral("No preset is named \"%1\"; the presets are %2")
                   .arg(name, presetNames()));
        return;
    }
    window_.applyPreset(static_cast<int>(preset - ui::presets().data()));
}

void RemoteControl::ApplyPresetAt(int position) {
    if (position < 1 || position > ui::kPresetCount) {
        refuse(remote::kErrorInvalidArgs,
               QStringLiteral("There is no preset %1: the presets are 1 to %2 (%3)")
                   .arg(position)
                   .arg(ui::kPresetCount)
                   .arg(presetNames()));
        return;
    }
    window_.applyPreset(position - 1);
}

void RemoteControl::ApplyFavorite(const QString& name) {
    QList<int> named;
    QStringList listed;
    for (int slot = 0; slot < favorites::kSlotCount; ++slot) {
        const QString slotName = window_.favoriteName(slot);
        listed << QStringLiteral("%1 \"%2\"").arg(slot + 1).arg(slotName);
        if (slotName.compare(name, Qt::CaseInsensitive) == 0) named << slot;
    }
    if (named.size() == 1) {
        window_.applyFavorite(named.first());
        return;
    }
    if (named.isEmpty()) {
        refuse(remote::kErrorInvalidArgs,
               QStringLiteral("No favorite is named \"%1\"; the favorites are %2")
                   .arg(name, listed.join(QLatin1String(", "))));
        return;
    }
    QStringList positions;
    for (int slot : named) positions << QString::number(slot + 1);
    refuse(remote::kErrorInvalidArgs,
           QStringLiteral("%1 favorites are named \"%2\" (%3): give the position instead")
               .arg(named.size())
               .arg(name, positions.join(QLatin1String(", "))));
}

void RemoteControl::ApplyFavoriteAt(int position) {
    if (position < 1 || position > favorites::kSlotCount) {
        refuse(remote::kErrorInvalidArgs,
               QStringLiteral("There is no favorite %1: the favorites are 1 to %2")
                   .arg(position)
                   .arg(favorites::kSlotCount));
        return;
    }
    window_.applyFavorite(position - 1);
}

QString RemoteControl::NextPreset() {
    window_.stepPreset(1);
    return presetName(window_.appliedPreset());
}

QString RemoteControl::PreviousPreset() {
    window_.stepPreset(-1);
    return presetName(window_.appliedPreset());
}

// --- The pad -----------------------------------------------------------------

void RemoteControl::SetPad(double x, double y) {
    const ui::PadRange& range = window_.padRange();
    const bool finite = std::isfinite(x) && std::isfinite(y);
    if (!finite || x < range.xMin || x > range.xMax || y < range.yMin || y > range.yMax) {
        refuse(remote::kErrorInvalidArgs,
               QStringLiteral("The point (%1, %2) is off the %3 pad: x goes from %4 to %5, y "
                              "from %6 to %7")
                   .arg(number(x), number(y), modeName(), number(range.xMin), number(range.xMax),
                        number(range.yMin), number(range.yMax)));
        return;
    }
    window_.setPadPoint(x, y);
}

void RemoteControl::SetMode(const QString& mode) {
    if (mode.compare(QLatin1String("human"), Qt::CaseInsensitive) == 0) {
        window_.on_toggleHuman_clicked();
    } else if (mode.compare(QLatin1String("cartoon"), Qt::CaseInsensitive) == 0) {
        window_.on_toggleCartoon_clicked();
    } else {
        refuse(
            remote::kErrorInvalidArgs,
            QStringLiteral("There is no mode \"%1\": the modes are human and cartoon").arg(mode));
    }
}

// --- Switches ----------------------------------------------------------------

void RemoteControl::SetBypass(bool bypassed) { window_.setSwitch(Switch::Morph, !bypassed); }

bool RemoteControl::ToggleBypass() { return !toggle(window_, Switch::Morph); }

void RemoteControl::SetEffect(const QString& effect, bool on) {
    Switch which;
    if (!effectSwitch(effect, &which)) {
        refuse(remote::kErrorInvalidArgs,
               QStringLiteral("There is no effect \"%1\": the effects are %2")
                   .arg(effect, effectNames()));
        return;
    }
    window_.setSwitch(which, on);
}

bool RemoteControl::ToggleEffect(const QString& effect) {
    Switch which;
    if (!effectSwitch(effect, &which)) {
        refuse(remote::kErrorInvalidArgs,
               QStringLiteral("There is no effect \"%1\": the effects are %2")
                   .arg(effect, effectNames()));
        return false;
    }
    return toggle(window_, which);
}

// --- Recording ---------------------------------------------------------------

void RemoteControl::StartRecording() {
    if (window_.recording()) return;
    if (!window_.clickRecord())
        refuse(remote::kErrorBusy,
               QStringLiteral("The recording cannot start now: a playback or a change of device is "
                              "under way; try again when it is done"));
}

void RemoteControl::StopRecording() {
    if (!window_.recording()) return;
    if (!window_.clickRecord())
        refuse(remote::kErrorBusy,
               QStringLiteral("The recording cannot stop yet: its start is still under way; try "
                              "again in a moment"));
}

// --- The voice and its changes -----------------------------------------------

QVariantMap RemoteControl::GetVoice() { return voiceOf(window_); }

void RemoteControl::queuePublish() {
    // One action moves several things (a preset: the mode, the point, the
    // looks): they are compared once the window is done with it.
    if (publishQueued_) return;
    publishQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        publishQueued_ = false;
        publishChanges();
    });
}

void RemoteControl::publishChanges() {
    const QVariantMap voice = voiceOf(window_);
    QStringList changed;
    for (auto it = voice.constBegin(); it != voice.constEnd(); ++it)
        if (published_.value(it.key()) != it.value()) changed << it.key();
    if (changed.isEmpty()) return;
    published_ = voice;
    emit VoiceChanged(voice, changed);
}

// --- The program's start -----------------------------------------------------

QList<Hotkey> defaultHotkeys(MainWindow& window) {
    MainWindow* w = &window;
    return {
        {QStringLiteral("toggle-bypass"),
         QStringLiteral("Switch the voice change on or off (PARLUNE / NORMAL)"),
         QStringLiteral("CTRL+ALT+B"), [w] { toggle(*w, Switch::Morph); }},
        {QStringLiteral("next-preset"), QStringLiteral("Apply the next preset"),
         QStringLiteral("CTRL+ALT+N"), [w] { w->stepPreset(1); }},
        {QStringLiteral("previous-preset"), QStringLiteral("Apply the previous preset"),
         QStringLiteral("CTRL+ALT+P"), [w] { w->stepPreset(-1); }},
    };
}

void startRemoteControl(MainWindow& window) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qDebug().noquote() << QStringLiteral("Remote control and hotkeys off: no session bus (%1)")
                                  .arg(bus.lastError().message());
        return;
    }
    RemoteControl::start(window, bus);
    auto* shortcuts = new DesktopShortcuts(bus, defaultHotkeys(window), &window);
    shortcuts->setObjectName(QStringLiteral("desktopShortcuts"));
    shortcuts->start();
}

}  // namespace parlune::app
