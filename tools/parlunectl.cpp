// parlunectl: drives the running Parlune from a command line or a desktop
// shortcut, through its remote control on the session bus.
// Exit codes: 0 done, 1 refused or failed (the program's message on standard
// error), 2 wrong usage, 3 no running program (or no session bus).
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
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

const char* const kCommandsText =
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
    "3 Parlune is not running.\n";

const char* const kBindingText =
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
    "  KDE Plasma 6: System Settings > Keyboard > Shortcuts > Add New > Command or\n"
    "    Script, the command, then the key.\n"
    "  KDE Plasma 5: System Settings > Shortcuts > Custom Shortcuts, Edit > New >\n"
    "    Global Shortcut > Command/URL: the key in Trigger, the command in Action.\n"
    "  sway and i3: a line in ~/.config/sway/config or ~/.config/i3/config, then\n"
    "    reload the configuration:\n"
    "      bindsym $mod+Shift+v exec parlunectl bypass toggle\n"
    "      bindsym $mod+Shift+n exec parlunectl next-preset\n"
    "\n"
    "Where the desktop offers global shortcuts through its portal (recent KDE\n"
    "Plasma and GNOME do), Parlune asks for three of its own when it starts:\n"
    "bypass toggle (Ctrl+Alt+B), next preset (Ctrl+Alt+N) and previous preset\n"
    "(Ctrl+Alt+P) as it proposes them; the desktop may ask first, and its\n"
    "settings change the keys.\n";

int usage(const char* problem) {
    std::fprintf(stderr, "parlunectl: %s\n%s(parlunectl --help also tells how to bind a key)\n",
                 problem, kCommandsText);
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

// What a command asks of the program, and what is printed of the answer.
struct Request {
    enum class Print { Nothing, Name, Switch, Voice };
    const char* method = nullptr;
    QVariantList arguments;
    Print print = Print::Nothing;
    QString switchName;  // Print::Switch: "bypass", "echo", ...
};

bool isPosition(const QString& text) {
    if (text.isEmpty() || text.size() > 4) return false;
    for (const QChar c : text)
        if (!c.isDigit()) return false;
    return true;
}

// The request of a command line; nullopt with the problem when it is wrong.
// Names and numbers are the program's to judge; the words are the client's.
std::optional<Request> parse(const QStringList& args, const char** problem) {
    const auto wrong = [problem](const char* why) {
        *problem = why;
        return std::optional<Request>();
    };
    if (args.isEmpty()) return wrong("give a command");
    const QString& command = args[0];
    const int count = args.size() - 1;
    Request r;
    if (command == QLatin1String("preset") || command == QLatin1String("favorite")) {
        if (count != 1) return wrong("give one name or position");
        const bool preset = command == QLatin1String("preset");
        if (isPosition(args[1])) {
            r.method = preset ? "ApplyPresetAt" : "ApplyFavoriteAt";
            r.arguments << args[1].toInt();
        } else {
            r.method = preset ? "ApplyPreset" : "ApplyFavorite";
            r.arguments << args[1];
        }
        return r;
    }
    if (command == QLatin1String("next-preset") || command == QLatin1String("previous-preset")) {
        if (count != 0) return wrong("next-preset and previous-preset take no arguments");
        r.method = command == QLatin1String("next-preset") ? "NextPreset" : "PreviousPreset";
        r.print = Request::Print::Name;
        return r;
    }
    if (command == QLatin1String("bypass") || command == QLatin1String("effect")) {
        const bool bypass = command == QLatin1String("bypass");
        if (count != (bypass ? 1 : 2))
            return wrong(bypass ? "give on, off or toggle"
                                : "give an effect and on, off or toggle");
        const QString& state = args.last();
        if (!bypass) r.arguments << args[1];
        r.switchName = bypass ? QStringLiteral("bypass") : args[1].toLower();
        if (state == QLatin1String("toggle")) {
            r.method = bypass ? "ToggleBypass" : "ToggleEffect";
            r.print = Request::Print::Switch;
        } else if (state == QLatin1String("on") || state == QLatin1String("off")) {
            r.method = bypass ? "SetBypass" : "SetEffect";
            r.arguments << (state == QLatin1String("on"));
        } else {
            return wrong("give on, off or toggle");
        }
        return r;
    }
    if (command == QLatin1String("mode")) {
        if (count != 1 ||
            (args[1] != QLatin1String("human") && args[1] != QLatin1String("cartoon")))
            return wrong("give human or cartoon");
        r.method = "SetMode";
        r.arguments << args[1];
        return r;
    }
    if (command == QLatin1String("pad")) {
        bool xOk = false, yOk = false;
        const double x = count == 2 ? args[1].toDouble(&xOk) : 0;
        const double y = count == 2 ? args[2].toDouble(&yOk) : 0;
        if (!xOk || !yOk) return wrong("give the point as two numbers, X and Y");
        r.method = "SetPad";
        r.arguments << x << y;
        return r;
    }
    if (command == QLatin1String("record")) {
        if (count != 1 || (args[1] != QLatin1String("start") && args[1] != QLatin1String("stop")))
            return wrong("give start or stop");
        r.method = args[1] == QLatin1String("start") ? "StartRecording" : "StopRecording";
        return r;
    }
    if (command == QLatin1String("status")) {
        if (count != 0) return wrong("status takes no arguments");
        r.method = "GetVoice";
        r.print = Request::Print::Voice;
        return r;
    }
    return wrong("unknown command");
}

const char* onOff(bool on) { return on ? "on" : "off"; }

QByteArray decimal(const QVariant& value) {
    return QString::number(value.toDouble(), 'g', 6).toUtf8();
}

QByteArray text(const QVariantMap& voice, const char* key) {
    return voice.value(QLatin1String(key)).toString().toUtf8();
}

void printVoice(const QVariantMap& voice) {
    const auto slotLine = [&voice](const char* name, const char* position) {
        const int at = voice.value(QLatin1String(position)).toInt();
        return at > 0 ? QByteArray::number(at) + ' ' + text(voice, name) : QByteArray("none");
    };
    const auto flag = [&voice](const char* key) {
        return voice.value(QLatin1String(key)).toBool();
    };
    std::printf("mode: %s\n", text(voice, remote::key::mode).constData());
    std::printf("pitch: %s\n", decimal(voice.value(QLatin1String(remote::key::pitch))).constData());
    std::printf("formant: %s\n",
                decimal(voice.value(QLatin1String(remote::key::formant))).constData());
    std::printf("pad: %s %s\n", decimal(voice.value(QLatin1String(remote::key::padX))).constData(),
                decimal(voice.value(QLatin1String(remote::key::padY))).constData());
    std::printf("preset: %s\n",
                slotLine(remote::key::preset, remote::key::presetPosition).constData());
    std::printf("favorite: %s\n",
                slotLine(remote::key::favorite, remote::key::favoritePosition).constData());
    std::printf("bypass: %s\n", onOff(flag(remote::key::bypass)));
    for (const char* effect : remote::kEffects)
        std::printf("%s: %s\n", effect, onOff(flag(effect)));
    std::printf("recording: %s\n", flag(remote::key::recording) ? "yes" : "no");
}

int run(const QStringList& args) {
    if (!args.isEmpty() && (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
        std::printf("%s%s", kCommandsText, kBindingText);
        return kDone;
    }
    const char* problem = nullptr;
    const std::optional<Request> request = parse(args, &problem);
    if (!request) return usage(problem);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "parlunectl: no session bus (%s)\n",
                     bus.lastError().message().toLocal8Bit().constData());
        return kNotRunning;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(remote::kService), QLatin1String(remote::kPath),
        QLatin1String(remote::kInterface), QLatin1String(request->method));
    message.setArguments(request->arguments);
    // The program is never started by a call: no answer means not running.
    message.setAutoStartService(false);
    const QDBusMessage reply = bus.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) return failure(QDBusError(reply));

    const QVariant answer = reply.arguments().isEmpty() ? QVariant() : reply.arguments().first();
    switch (request->print) {
        case Request::Print::Nothing:
            break;
        case Request::Print::Name:
            std::printf("%s\n", answer.toString().toUtf8().constData());
            break;
        case Request::Print::Switch:
            std::printf("%s %s\n", request->switchName.toUtf8().constData(),
                        onOff(answer.toBool()));
            break;
        case Request::Print::Voice:
            printVoice(qdbus_cast<QVariantMap>(answer));
            break;
    }
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return run(args);
}
