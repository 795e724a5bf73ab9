// Figures for the remote control: the round trip of a method call on the
// session bus from a client that stays connected (a desktop shortcut bound
// to a bus call), and of `parlunectl status` as a key binding runs it (a new
// process each time), against the program that owns the name. Run it with
// the program running (scripts/remote-figures.sh does).
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/remote_names.h"

extern char** environ;

namespace {

namespace remote = parlune::remote;

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

void report(const char* what, const std::vector<double>& ms) {
    std::printf("%-40s median %7.3f ms, 95th percentile %7.3f ms (%zu runs)\n", what,
                percentile(ms, 0.5), percentile(ms, 0.95), ms.size());
}

// Milliseconds of each of `count` calls; empty when one fails.
std::vector<double> timeCalls(QDBusConnection& bus, const char* method, const QVariantList& args,
                              int count) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(remote::kService), QLatin1String(remote::kPath),
        QLatin1String(remote::kInterface), QLatin1String(method));
    message.setArguments(args);
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer clock;
        clock.start();
        const QDBusMessage reply = bus.call(message, QDBus::Block, 5000);
        ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            std::fprintf(stderr, "parlune_bench_remote: %s: %s\n", method,
                         reply.errorMessage().toLocal8Bit().constData());
            return {};
        }
    }
    return ms;
}

// Milliseconds of each run of the client, its output thrown away.
std::vector<double> timeClient(const std::string& program, int count) {
    std::vector<double> ms;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (int i = 0; i < count; ++i) {
        char name[] = "parlunectl";
        char status[] = "status";
        char* args[] = {name, status, nullptr};
        QElapsedTimer clock;
        clock.start();
        pid_t pid = 0;
        int code = -1;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, args, environ) == 0) {
            int waited = 0;
            if (waitpid(pid, &waited, 0) == pid && WIFEXITED(waited)) code = WEXITSTATUS(waited);
        }
        ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (code != 0) {
            std::fprintf(stderr, "parlune_bench_remote: %s status ended with %d\n", program.c_str(),
                         code);
            ms.clear();
            break;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int calls = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int clients = argc > 2 ? std::atoi(argv[2]) : 100;
    if (calls < 2 || clients < 2) {
        std::fprintf(stderr, "Usage: parlune_bench_remote [CALLS [CLIENT_RUNS]]\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "parlune_bench_remote: no session bus\n");
        return 1;
    }
    const std::string client = QCoreApplication::applicationDirPath().toStdString() + "/parlunectl";

    timeCalls(bus, "GetVoice", {}, 20);  // the connection's first calls set things up
    const std::vector<double> read = timeCalls(bus, "GetVoice", {}, calls);
    // An even count leaves the switch as it was.
    const std::vector<double> toggled =
        timeCalls(bus, "ToggleEffect", {QStringLiteral("echo")}, calls / 2 * 2);
    const std::vector<double> preset = timeCalls(bus, "NextPreset", {}, calls);
    const std::vector<double> status = timeClient(client, clients);
    if (read.empty() || toggled.empty() || preset.empty() || status.empty()) return 1;
    report("GetVoice (connected client)", read);
    report("ToggleEffect echo (connected client)", toggled);
    report("NextPreset (connected client)", preset);
    report("parlunectl status (a process per run)", status);
    return 0;
}
