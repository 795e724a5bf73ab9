// parlune-switch-timing: when does a preset applied by parlunectl reach the
// virtual microphone? A steady voiced tone plays into the microphone's feed
// while the virtual microphone is recorded on the steady clock; once per
// cycle the voice is put back to the start point (through the remote
// control, untimed), then `parlunectl preset NAME` runs and the moment it is
// started is noted. The recording goes to a WAV file, the call moments to
// standard output in seconds from the recording's first frame, so a pitch
// tracker (scripts/remote-figures.sh runs aubiopitch, as the demo does) finds
// where the F0 changes after each. A second WAV file holds the same tone
// changing its F0 by the preset's ratio at a known moment, to measure the
// tracker's own delay.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/remote_names.h"
#include "platform/pulse/pulse_client.h"
#include "tools/timed_recorder.h"
#include "ui/core/pad_math.h"
#include "ui/core/presets.h"

extern char** environ;

namespace {

namespace pulse = parlune::pulse;
namespace tools = parlune::tools;
namespace remote = parlune::remote;

constexpr int kRate = tools::TimedRecorder::kRate;
// The calibration file's change of F0, from its first frame.
constexpr double kCalibrationStepSeconds = 1.0;

struct Options {
    std::string feed = "micsink";
    std::string heard = "parlune_01_mic";
    std::string preset = "ROBOT";
    std::string out = "switch.wav";
    std::string calibration = "switch-calibration.wav";
    std::string parlunectl;  // empty: beside this tool
    int cycles = 8;
    double periodSeconds = 2.0;
    double settleSeconds = 3.0;
    double toneHz = 160.0;
};

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: parlune-switch-timing [options]\n"
                 "Plays a steady voiced tone into --feed, records --heard, and once per cycle\n"
                 "puts the voice back to the start point and runs `parlunectl preset NAME`;\n"
                 "prints each call's moment in seconds from the recording's first frame.\n"
                 "  --feed SINK          the microphone's feed (default micsink)\n"
                 "  --heard SOURCE       where the voice is heard (default parlune_01_mic)\n"
                 "  --preset NAME        the preset applied (default ROBOT)\n"
                 "  --cycles N           calls (default 8), one every --period seconds (2)\n"
                 "  --settle S           seconds of tone before the first cycle (default 3)\n"
                 "  --tone HZ            the tone's F0 (default 160)\n"
                 "  --out FILE           the recording (default switch.wav)\n"
                 "  --calibration FILE   the tone with a known change (default\n"
                 "                       switch-calibration.wav)\n"
                 "  --parlunectl PATH    the client (default: beside this tool)\n"
                 "Exit codes: 0 measured, 1 a stream, a call or a file failed, 2 wrong usage.\n");
}

// 1 to go on, 0 for --help, -1 on a wrong option.
int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") return 0;
        if (i + 1 >= argc) return -1;
        const char* v = argv[++i];
        if (a == "--feed")
            o.feed = v;
        else if (a == "--heard")
            o.heard = v;
        else if (a == "--preset")
            o.preset = v;
        else if (a == "--out")
            o.out = v;
        else if (a == "--calibration")
            o.calibration = v;
        else if (a == "--parlunectl")
            o.parlunectl = v;
        else if (a == "--cycles")
            o.cycles = std::atoi(v);
        else if (a == "--period")
            o.periodSeconds = std::atof(v);
        else if (a == "--settle")
            o.settleSeconds = std::atof(v);
        else if (a == "--tone")
            o.toneHz = std::atof(v);
        else
            return -1;
    }
    if (o.cycles < 1 || o.periodSeconds < 0.5 || o.toneHz < 60 || o.toneHz > 400) return -1;
    return 1;
}

// Harmonics of the F0 with a falling spectrum, as the latency bursts are
// made, from a phase that runs on across changes of F0, with a little noise
// as a voice has breath. Its peak (about 0.15) is a speaking level: a full
// scale tone would be pushed past 1 by the strongest formant warps, whose
// guard then silences it.
class Tone {
public:
    float next(double hz) {
        phase_ += hz / kRate;
        phase_ -= std::floor(phase_);
        double v = 0;
        for (int h = 1; h <= 20; ++h) v += std::sin(2 * M_PI * h * phase_) / h;
        noise_ = noise_ * 1664525u + 1013904223u;
        const double breath = (static_cast<double>(noise_ >> 8) / (1u << 24) - 0.5) * 0.01;
        return static_cast<float>(0.08 * v + breath);
    }

private:
    double phase_ = 0;
    uint32_t noise_ = 12345;
};

bool writeWav(const std::string& path, const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const sf_count_t written =
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    return sf_close(file) == 0 && written == static_cast<sf_count_t>(samples.size());
}

// A call of the remote control whose timing does not count; false on an error.
bool callRemote(const char* method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(remote::kService), QLatin1String(remote::kPath),
        QLatin1String(remote::kInterface), QLatin1String(method));
    message.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "parlune-switch-timing: %s: %s\n", method,
                     reply.errorMessage().toLocal8Bit().constData());
        return false;
    }
    return true;
}

// Runs the client to its end; its exit code, -1 when it could not run.
int runClient(const std::string& program, const std::string& preset) {
    std::vector<std::string> argv = {program, "preset", preset};
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    Options o;
    const int parsed = parse(argc, argv, o);
    if (parsed <= 0) {
        printUsage(parsed == 0 ? stdout : stderr);
        return parsed == 0 ? 0 : 2;
    }
    if (o.parlunectl.empty())
        o.parlunectl = QCoreApplication::applicationDirPath().toStdString() + "/parlunectl";
    const parlune::ui::Preset* preset = parlune::ui::findPreset(o.preset);
    if (!preset) {
        std::fprintf(stderr, "parlune-switch-timing: no preset %s\n", o.preset.c_str());
        return 2;
    }
    const double ratio = parlune::ui::pitchFromPad(preset->padX);

    // The tracker's own delay is measured on the same tone changing at a
    // known moment.
    {
        Tone tone;
        std::vector<float> step(static_cast<size_t>(2 * kCalibrationStepSeconds * kRate));
        for (size_t n = 0; n < step.size(); ++n)
            step[n] = tone.next(n < step.size() / 2 ? o.toneHz : o.toneHz * ratio);
        if (!writeWav(o.calibration, step)) {
            std::fprintf(stderr, "parlune-switch-timing: cannot write %s\n", o.calibration.c_str());
            return 1;
        }
    }

    pulse::PulseClient client("parlune-switch-timing");
    if (!client.connected()) {
        std::fprintf(stderr, "parlune-switch-timing: no audio server\n");
        return 1;
    }
    if (!callRemote("SetMode", {QStringLiteral("cartoon")}) || !callRemote("SetPad", {1.0, 1.5}))
        return 1;

    tools::TimedRecorder heard(o.heard, "parlune-switch-timing: " + o.heard);
    auto feed = pulse::Stream::open(pulse::StreamDirection::Playback, o.feed, kRate, 1,
                                    pulse::StreamLatency{20, 0}, "parlune-switch-timing: tone");
    if (!heard.ok() || !feed) {
        std::fprintf(stderr, "parlune-switch-timing: cannot open the streams (%s, %s)\n",
                     o.feed.c_str(), o.heard.c_str());
        return 1;
    }
    const double seconds = o.settleSeconds + o.cycles * o.periodSeconds + 1.0;
    std::vector<float> signal(static_cast<size_t>(seconds * kRate));
    Tone tone;
    for (float& sample : signal) sample = tone.next(o.toneHz);
    bool played = false;
    std::thread player(
        [&] { played = feed->write(signal.data(), signal.size()) && feed->drain(); });

    std::vector<double> calls, returns;
    bool ok = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(o.settleSeconds));
    for (int k = 0; k < o.cycles && ok; ++k) {
        ok = callRemote("SetMode", {QStringLiteral("cartoon")}) && callRemote("SetPad", {1.0, 1.5});
        std::this_thread::sleep_for(std::chrono::duration<double>(o.periodSeconds / 2));
        const double called = tools::steadySeconds();
        const int code = runClient(o.parlunectl, o.preset);
        const double returned = tools::steadySeconds();
        if (code != 0) {
            std::fprintf(stderr, "parlune-switch-timing: %s ended with %d\n", o.parlunectl.c_str(),
                         code);
            ok = false;
        }
        calls.push_back(called);
        returns.push_back(returned);
        std::this_thread::sleep_for(std::chrono::duration<double>(o.periodSeconds / 2));
    }
    player.join();
    tools::TimedRecording recording;
    if (!heard.stop(&recording) || !played) {
        std::fprintf(stderr, "parlune-switch-timing: the %s failed\n",
                     played ? "recording" : "tone");
        return 1;
    }
    if (!ok) return 1;
    if (!writeWav(o.out, recording.samples)) {
        std::fprintf(stderr, "parlune-switch-timing: cannot write %s\n", o.out.c_str());
        return 1;
    }
    std::printf("tone %.1f Hz into %s, heard on %s, preset %s (pitch %.3f)\n", o.toneHz,
                o.feed.c_str(), o.heard.c_str(), preset->name, ratio);
    std::printf("recording %s, calibration %s (F0 changes at %.3f s)\n", o.out.c_str(),
                o.calibration.c_str(), kCalibrationStepSeconds);
    for (size_t k = 0; k < calls.size(); ++k)
        std::printf("call %zu at %.4f s, parlunectl done after %.1f ms\n", k + 1,
                    calls[k] - recording.startSeconds, (returns[k] - calls[k]) * 1000.0);
    return 0;
}
