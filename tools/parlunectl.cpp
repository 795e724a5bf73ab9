// parlunectl: drives the running Parlune from a command line or a desktop
// shortcut, through its remote control on the session bus.
// Exit codes: 0 done, 1 refused or failed (the program's message on standard
// error), 2 wrong usage, 3 no running program (or no session bus).
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>
#include <optional>

#include "app/remote_names.h"

namespace {

namespace remote = parlune::remote;

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int kNotRunning = 3;

// A hotkey is pressed and forgotten: a program that does not answer within
// this long is not waited for.
constexpr int kCallTimeoutMs = 5000;

const char* const kUsageText =
    "Usage: parlunectl COMMAND [ARGUMENTS]\n"
    "Drives the running Parlune: the voice it plays into PARLUNE-01.\n"
    "\n"
    "  preset NAME|N            apply a preset by name (any case) or position (1-8)\n"
    "  next-preset              apply the next preset (the first when none is applied)\n"
    "  previous-preset          apply the previous preset\n"
    "  favorite NAME|N          apply a favorite by name or position (1-8)\n"
    "  bypass on|off|toggle     NORMAL (the voice unchanged) on or off\n"
    "  effect NAME on|off|toggle\n"
    "                           echo, reverb, chorus, distortion or tremolo\n"
    "  mode human|cartoon       the morph, as the HUMAN and CARTOON buttons\n"
    "  pad X Y                  the pad point: X 0.3 to 1.7 (pitch 0.65 to 1.7),\n"
    "                           Y the formant, -0.5 to 2.5 cartoon, 0.8 to 1.2 human\n"
    "  record start|stop        a recording of up to 30 seconds\n"
    "  status                   print the voice\n"
    "  --help                   this text\n"
    "\n"
    "Exit codes: 0 done, 1 refused (the reason on standard error), 2 wrong usage,\n"
    "3 Parlune is not running.\n"
    "\n"
    "Binding a key to a command\n"
    "  GNOME: Settings > Keyboard > View and Customize Shortcuts > Custom Shortcuts,\n"
    "    \"+\", a name, the command (parlunectl bypass toggle) and the key. Or:\n"
    "      base=org.gnome.settings-daemon.plugins.media-keys\n"
    "      slot=/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/parlune0/\n"
    "      gsettings set $base custom-keybindings \"['$slot']\"\n"
    "      gsettings set $base.custom-keybinding:$slot name 'Parlune bypass'\n"
    "      gsettings set $base.custom-keybinding:$slot command 'parlunectl bypass toggle'\n"
    "      gsettings set $base.custom-keybinding:$slot binding '<Control><Alt>b'\n"
    "    (the first line replaces the list of custom shortcuts: add the slot to\n"
    "    the ones `gsettings get $base custom-keybindings` shows, if any).\n"
    "  KDE Plasma: System Settings > Shortcuts > Add New > Command or Script\n"
    "    (Plasma 5: Shortcuts > Custom Shortcuts, Edit > New > Global Shortcut >\n"
    "    Command/URL), the command in Action, the key in Trigger.\n"
    "  sway and i3: a line in ~/.config/sway/config or ~/.config/i3/config, then\n"
    "    reload the configuration:\n"
    "      bindsym $mod+Shift+v exec parlunectl bypass toggle\n"
    "      bindsym $mod+Shift+n exec parlunectl next-preset\n"
    "\n"
    "Where the desktop offers global shortcuts through its portal (KDE Plasma 6,\n"
    "GNOME 48 and later), Parlune asks for three of its own when it starts:\n"
    "bypass toggle, next and previous preset; the desktop's settings change their\n"
    "keys.\n";

int usage(const char* problem = nullptr) {
    if (problem) std::fprintf(stderr, "parlunectl: %s\n", problem);
    std::fprintf(stderr, "%s", kUsageText);
    return kUsage;
}

// The exit code of a call's answer, with the reason on standard error.
int failure(const QDBusError& error) {
    const QDBusError::ErrorType type = error.type();
    if (type == QDBusError::ServiceUnknown ||
        error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        std::fprintf(stderr, "parlunectl: Parlune is not running\n");
        return kNotRunning;
    }
    if (type == QDBusError::NoReply || type == QDBusError::Timeout)
        std::fprintf(stderr, "parlunectl: Parlune did not answer within %d s\n",
                     kCallTimeoutMs / 1000);
    else
        std::fprintf(stderr, "parlunectl: %s\n", error.message().toLocal8Bit().constData());
    return kRefused;
}

class Remote {
public:
    explicit Remote(QDBusConnection bus) : bus_(std::move(bus)) {}

    // The call's answer, or nullopt after printing why there is none.
    std::optional<QDBusMessage> call(const char* method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QLatin1String(remote::kService), QLatin1String(remote::kPath),
            QLatin1String(remote::kInterface), QLatin1String(method));
        message.setArguments(arguments);
        // The program is never started by a call: no answer means not running.
        message.setAutoStartService(false);
        const QDBusMessage reply = bus_.call(message, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            code_ = failure(QDBusError(reply));
            return std::nullopt;
        }
        return reply;
    }
    int code() const { return code_; }

private:
    QDBusConnection bus_;
    int code_ = kDone;
};

bool isPosition(const QString& text) {
    if (text.isEmpty() || text.size() > 4) return false;
    for (const QChar c : text)
        if (!c.isDigit()) return false;
    return true;
}

std::optional<double> numberOf(const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

const char* onOff(bool on) { return on ? "on" : "off"; }

QString decimal(const QVariant& value) { return QString::number(value.toDouble(), 'g', 6); }

void printVoice(const QVariantMap& voice) {
    const auto slotLine = [&voice](const char* name, const char* position) {
        const int at = voice.value(QLatin1String(position)).toInt();
        return at > 0 ? QStringLiteral("%1 %2").arg(at).arg(
                            voice.value(QLatin1String(name)).toString())
                      : QStringLiteral("none");
    };
    std::printf("mode: %s\n",
                voice.value(QLatin1String(remote::key::mode)).toString().toUtf8().constData());
    std::printf("pitch: %s\n",
                decimal(voice.value(QLatin1String(remote::key::pitch))).toUtf8().constData());
    std::printf("formant: %s\n",
                decimal(voice.value(QLatin1String(remote::key::formant))).toUtf8().constData());
    std::printf("pad: %s %s\n",
                decimal(voice.value(QLatin1String(remote::key::padX))).toUtf8().constData(),
                decimal(voice.value(QLatin1String(remote::key::padY))).toUtf8().constData());
    std::printf("preset: %s\n",
                slotLine(remote::key::preset, remote::key::presetPosition).toUtf8().constData());
    std::printf(
        "favorite: %s\n",
        slotLine(remote::key::favorite, remote::key::favoritePosition).toUtf8().constData());
    std::printf("bypass: %s\n", onOff(voice.value(QLatin1String(remote::key::bypass)).toBool()));
    for (const char* effect : remote::kEffects)
        std::printf("%s: %s\n", effect, onOff(voice.value(QLatin1String(effect)).toBool()));
    std::printf("recording: %s\n",
                voice.value(QLatin1String(remote::key::recording)).toBool() ? "yes" : "no");
}

// A slot by name or position: `preset ROBOT`, `favorite 3`.
int applySlot(Remote& remote, const QStringList& args, const char* byName, const char* atPosition) {
    if (args.size() != 2) return usage("give one name or position");
    const QString& which = args[1];
    const bool applied = isPosition(which) ? remote.call(atPosition, {which.toInt()}).has_value()
                                           : remote.call(byName, {which}).has_value();
    return applied ? kDone : remote.code();
}

// on, off or toggle: the set method with the state, or the toggle method,
// whose answer is printed as the new state.
int applySwitch(Remote& remote, const QString& state, const QVariantList& prefix, const char* set,
                const char* toggle, const QString& what) {
    if (state == QLatin1String("on") || state == QLatin1String("off")) {
        QVariantList arguments = prefix;
        arguments << (state == QLatin1String("on"));
        return remote.call(set, arguments) ? kDone : remote.code();
    }
    if (state != QLatin1String("toggle")) return usage("give on, off or toggle");
    const std::optional<QDBusMessage> reply = remote.call(toggle, prefix);
    if (!reply) return remote.code();
    const bool on = !reply->arguments().isEmpty() && reply->arguments().first().toBool();
    std::printf("%s %s\n", what.toUtf8().constData(), onOff(on));
    return kDone;
}

int run(const QStringList& args) {
    if (args.isEmpty()) return usage();
    const QString& command = args[0];
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::printf("%s", kUsageText);
        return kDone;
    }
    const QStringList commands = {
        "preset", "next-preset", "previous-preset", "favorite", "bypass", "effect",
        "mode",   "pad",         "record",          "status"};
    if (!commands.contains(command)) return usage("unknown command");

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "parlunectl: no session bus (%s)\n",
                     bus.lastError().message().toLocal8Bit().constData());
        return kNotRunning;
    }
    Remote remote(bus);

    if (command == QLatin1String("preset"))
        return applySlot(remote, args, "ApplyPreset", "ApplyPresetAt");
    if (command == QLatin1String("favorite"))
        return applySlot(remote, args, "ApplyFavorite", "ApplyFavoriteAt");
    if (command == QLatin1String("next-preset") || command == QLatin1String("previous-preset")) {
        if (args.size() != 1) return usage("next-preset and previous-preset take no arguments");
        const std::optional<QDBusMessage> reply =
            remote.call(command == QLatin1String("next-preset") ? "NextPreset" : "PreviousPreset");
        if (!reply) return remote.code();
        if (!reply->arguments().isEmpty())
            std::printf("%s\n", reply->arguments().first().toString().toUtf8().constData());
        return kDone;
    }
    if (command == QLatin1String("bypass")) {
        if (args.size() != 2) return usage("give on, off or toggle");
        return applySwitch(remote, args[1], {}, "SetBypass", "ToggleBypass",
                           QStringLiteral("bypass"));
    }
    if (command == QLatin1String("effect")) {
        if (args.size() != 3) return usage("give an effect and on, off or toggle");
        return applySwitch(remote, args[2], {args[1]}, "SetEffect", "ToggleEffect",
                           args[1].toLower());
    }
    if (command == QLatin1String("mode")) {
        if (args.size() != 2 ||
            (args[1] != QLatin1String("human") && args[1] != QLatin1String("cartoon")))
            return usage("give human or cartoon");
        return remote.call("SetMode", {args[1]}) ? kDone : remote.code();
    }
    if (command == QLatin1String("pad")) {
        if (args.size() != 3) return usage("give the point as two numbers, X and Y");
        const std::optional<double> x = numberOf(args[1]), y = numberOf(args[2]);
        if (!x || !y) return usage("give the point as two numbers, X and Y");
        return remote.call("SetPad", {*x, *y}) ? kDone : remote.code();
    }
    if (command == QLatin1String("record")) {
        if (args.size() != 2 ||
            (args[1] != QLatin1String("start") && args[1] != QLatin1String("stop")))
            return usage("give start or stop");
        return remote.call(args[1] == QLatin1String("start") ? "StartRecording" : "StopRecording")
                   ? kDone
                   : remote.code();
    }
    // status
    if (args.size() != 1) return usage("status takes no arguments");
    const std::optional<QDBusMessage> reply = remote.call("GetVoice");
    if (!reply) return remote.code();
    if (reply->arguments().isEmpty()) {
        std::fprintf(stderr, "parlunectl: the voice came without its values\n");
        return kRefused;
    }
    printVoice(qdbus_cast<QVariantMap>(reply->arguments().first()));
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return run(args);
}
