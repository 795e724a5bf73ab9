// parlune-render: exports a WAV file through the morph and the effects with
// the same routine the window's export runs, so a file rendered here and one
// exported from the window are identical. The input is first converted to
// 16 kHz mono the way a recording is, when it is not already.
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/core/data_files.h"
#include "app/core/properties.h"
#include "engine/engine.h"
#include "platform/base/files.h"
#include "ui/core/pad_math.h"
#include "ui/core/presets.h"
#include "voice/morph_unit.h"

namespace {

constexpr int kUsageError = 2;
// A write that failed (a full disk, a file that cannot be replaced): the old
// output, if any, is left as it was.
constexpr int kWriteError = 1;

// Header rates outside this range are refused: beyond it a file is damaged
// or made to exhaust memory and disk (a 40 kB file claiming 1 Hz would
// expand to over a gigabyte at 16 kHz).
constexpr int kLowestRate = 1000;
constexpr int kHighestRate = 768000;
// Larger inputs are refused (a WAV file's own limit is 4 GiB).
constexpr uint64_t kMaxInputBytes = uint64_t(4) << 30;
// Frames moved per step when copying, so memory does not grow with the file.
constexpr sf_count_t kCopyFrames = 16384;

// The controls' ranges, as the pad can set them: pitch from its horizontal
// range, formant from the cartoon mode's vertical range (which holds the
// human one). Values outside are refused rather than silently clamped.
constexpr double kLowestPitch = 0.65;
constexpr double kHighestPitch = 1.7;
constexpr double kLowestFormant = -0.5;
constexpr double kHighestFormant = 2.5;

void printUsage(FILE* to) {
    std::fprintf(to,
                 "Usage: parlune-render [options] IN.wav OUT.wav\n"
                 "Exports IN.wav (any rate and channel count; converted to 16 kHz mono)\n"
                 "through the morph and the chosen effects into OUT.wav, 16 kHz mono, as\n"
                 "the window's export does: whole 64 ms blocks, from a fresh morph state.\n"
                 "\n"
                 "  --preset NAME           one of the eight voices (any case):\n"
                 "                          ");
    for (const auto& preset : parlune::ui::presets()) std::fprintf(to, "%s ", preset.name);
    std::fprintf(to,
                 "\n"
                 "  --mode human|cartoon    morph mode (default cartoon)\n"
                 "  --pitch P               pitch control, 0.65 to 1.7 (default 1)\n"
                 "  --formant F             formant control, -0.5 to 2.5 (default 1.5)\n"
                 "  --echo --chorus --distortion --tremolo   switch an effect on\n"
                 "  --help                  this text\n"
                 "A preset sets mode, pitch and formant; options after it override them.\n");
}

// Effect options and the flags they clear (true = bypassed).
struct EffectOption {
    const char* option;
    parlune::app::Key<bool> bypassFlag;
};
constexpr EffectOption kEffectOptions[] = {
    {"--echo", parlune::app::prop::isDspEchoBipassed},
    {"--chorus", parlune::app::prop::isDspChorusBipassed},
    {"--distortion", parlune::app::prop::isDspDistortionBipassed},
    {"--tremolo", parlune::app::prop::isDspTremoloBipassed}};

const EffectOption* findEffectOption(const std::string& arg) {
    for (const EffectOption& effect : kEffectOptions)
        if (arg == effect.option) return &effect;
    return nullptr;
}

int fail(const std::string& message, int exitCode = kUsageError) {
    std::fprintf(stderr, "parlune-render: %s\n", message.c_str());
    return exitCode;
}

bool parseNumber(const char* text, double lowest, double highest, float& value) {
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(parsed)) return false;
    if (parsed < lowest || parsed > highest) return false;
    value = static_cast<float>(parsed);
    return true;
}

using parlune::data::printable;

// Opens a regular audio file of bounded size for reading; null with a
// message otherwise (a FIFO, a device or a folder is never waited on).
SNDFILE* openInput(const std::string& path, SF_INFO& info, std::string& error) {
    info = SF_INFO{};
    std::string why;
    const int fd = parlune::base::openRegularFile(path, kMaxInputBytes, &why);
    if (fd < 0) {
        error = "cannot read " + printable(path) + ": " + why;
        return nullptr;
    }
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (!file) {
        error = "cannot read " + printable(path) + ": " + sf_strerror(nullptr);
        ::close(fd);
    }
    return file;
}

// Rate and channel count of a readable audio file; false with a message
// otherwise. A file shorter than its header says is read as far as it goes,
// with a warning.
bool probeInput(const std::string& path, SF_INFO& info, std::string& error) {
    SNDFILE* file = openInput(path, info, error);
    if (!file) return false;
    char log[4096] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    sf_close(file);
    if (info.channels < 1 || info.samplerate < 1) {
        error = printable(path) + " has no audio channels";
        return false;
    }
    if (info.samplerate < kLowestRate || info.samplerate > kHighestRate) {
        error = printable(path) + " claims " + std::to_string(info.samplerate) +
                " Hz; rates from " + std::to_string(kLowestRate) + " to " +
                std::to_string(kHighestRate) + " Hz are rendered";
        return false;
    }
    if (std::strstr(log, "should be") || std::strstr(log, "truncated") ||
        std::strstr(log, "Truncated"))
        std::fprintf(stderr, "parlune-render: warning: %s is shorter than its header says\n",
                     printable(path).c_str());
    return true;
}

// True when both paths name the same file (by device and inode, so links and
// other spellings count); false when `output` does not exist yet.
bool sameFile(const std::string& input, const std::string& output) {
    struct stat in {}, out {};
    if (::stat(input.c_str(), &in) != 0 || ::stat(output.c_str(), &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// The conversion and the export render whole 64 ms blocks only, dropping a
// last partial block. So that the file comes out as long as the input, the
// renderer pads with silence before each of them and cuts the result back.

// Copies the first `keep` frames of `from` (silence where it is shorter) into
// `to`, padded with silence to `padTo` frames, a few thousand frames at a time.
// `to` is a file of its own or, with `into`, the ReplacedFile's file (whose
// commit is then the caller's). False with a message.
bool copyPadded(const std::string& from, const std::string& to, sf_count_t keep, sf_count_t padTo,
                std::string& error, parlune::base::ReplacedFile* into = nullptr) {
    SF_INFO info{};
    SNDFILE* in = openInput(from, info, error);
    if (!in) return false;
    padTo = std::max(padTo, keep);
    SF_INFO outInfo = info;
    SNDFILE* out = into ? sf_open_fd(into->fd(), SFM_WRITE, &outInfo, SF_FALSE)
                        : sf_open(to.c_str(), SFM_WRITE, &outInfo);
    if (!out) {
        error = "cannot write " + printable(to) + ": " + sf_strerror(nullptr);
        sf_close(in);
        return false;
    }
    // Integer samples go through as integers: libsndfile's float scaling is not
    // symmetric for PCM (read / 32768, write x 32767), and the morph would
    // amplify that difference.
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool asDouble = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    const size_t chunk = static_cast<size_t>(kCopyFrames) * info.channels;
    std::vector<double> doubles(asDouble ? chunk : 0);
    std::vector<int> ints(asDouble ? 0 : chunk);
    sf_count_t available = std::min(keep, info.frames);
    bool written = true;
    for (sf_count_t done = 0; done < padTo && written;) {
        const sf_count_t step = std::min(kCopyFrames, padTo - done);
        const sf_count_t wanted = std::min(step, available);
        sf_count_t got = 0;
        if (asDouble) {
            std::fill(doubles.begin(), doubles.end(), 0.0);
            if (wanted > 0) got = sf_readf_double(in, doubles.data(), wanted);
            written = sf_writef_double(out, doubles.data(), step) == step;
        } else {
            std::fill(ints.begin(), ints.end(), 0);
            if (wanted > 0) got = sf_readf_int(in, ints.data(), wanted);
            written = sf_writef_int(out, ints.data(), step) == step;
        }
        // A file shorter than its header ends early: the rest is silence.
        available = got < wanted ? 0 : available - got;
        done += step;
    }
    if (!written) error = "cannot write " + printable(to) + ": " + sf_strerror(out);
    sf_close(in);
    if (sf_close(out) != 0 && written) {
        written = false;
        error = "cannot write " + printable(to);
    }
    return written;
}

sf_count_t wholeBlocks(sf_count_t frames) {
    const sf_count_t block = parlune::voice::kBlockLength;
    return (frames + block - 1) / block * block;
}

// The engine's runs log what they do; a command line keeps quiet about it.
void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtDebugMsg) std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

int render(int argc, char** argv) {
    parlune::voice::MorphParams params;  // cartoon, pitch 1, formant 1.5 as at start-up
    std::vector<std::string> files;
    std::vector<const EffectOption*> effectsOn;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        } else if (arg == "--list-presets") {
            for (const auto& preset : parlune::ui::presets()) std::printf("%s\n", preset.name);
            return 0;
        } else if (arg == "--preset" || arg == "--mode" || arg == "--pitch" || arg == "--formant") {
            if (!hasValue) return fail(arg + " needs a value (see --help)");
            const char* value = argv[++i];
            if (arg == "--preset") {
                const parlune::ui::Preset* preset = parlune::ui::findPreset(value);
                if (!preset)
                    return fail("unknown preset '" + printable(value) + "' (see --help)");
                params.isCartoonMorph = preset->cartoon;
                params.pitch = static_cast<float>(parlune::ui::pitchFromPad(preset->padX));
                params.formant = static_cast<float>(parlune::ui::formantFromPad(preset->padY));
                params.warp = parlune::ui::warpFromPad(preset->padX);
            } else if (arg == "--mode") {
                if (std::strcmp(value, "human") == 0)
                    params.isCartoonMorph = false;
                else if (std::strcmp(value, "cartoon") == 0)
                    params.isCartoonMorph = true;
                else
                    return fail("--mode takes human or cartoon, not '" + printable(value) + "'");
            } else if (arg == "--pitch") {
                if (!parseNumber(value, kLowestPitch, kHighestPitch, params.pitch))
                    return fail("--pitch takes a number from 0.65 to 1.7, not '" +
                                printable(value) + "'");
            } else if (!parseNumber(value, kLowestFormant, kHighestFormant, params.formant)) {
                return fail("--formant takes a number from -0.5 to 2.5, not '" +
                            printable(value) + "'");
            }
        } else if (const EffectOption* effect = findEffectOption(arg)) {
            effectsOn.push_back(effect);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + printable(arg) + " (see --help)");
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) {
        printUsage(stderr);
        return kUsageError;
    }

    std::string error;
    SF_INFO info;
    if (!probeInput(files[0], info, error)) return fail(error);
    if (sameFile(files[0], files[1]))
        return fail("the output " + printable(files[1]) + " is the input; name another file");
    // Made first, so an output that cannot be created (a missing folder) is
    // told before any work; renamed over OUT.wav only at the end.
    parlune::base::ReplacedFile target(files[1]);
    if (!target.valid())
        return fail("cannot write " + printable(files[1]) + ": " + target.error());
    qInstallMessageHandler(quietDebug);

    QTemporaryDir work;
    if (!work.isValid()) return fail("cannot make a temporary folder");
    const QString input = QString::fromLocal8Bit(files[0].c_str());
    const bool is16kMono =
        info.samplerate == parlune::voice::kMorphSampleRate && info.channels == 1;

    // The settings the window would hold, then its conversion and export.
    parlune::app::PropertyStore& store = parlune::app::properties();
    parlune::app::writeInitialProperties(store);
    store.set(parlune::app::prop::isCartoonMorph, params.isCartoonMorph);
    store.set(parlune::app::prop::pitch, double(params.pitch));
    store.set(parlune::app::prop::formant, double(params.formant));
    store.set(parlune::app::prop::warp, params.warp);
    for (const EffectOption* effect : effectsOn) store.set(effect->bypassFlag, false);
    // Frames the result must have: the input's length at 16 kHz (64-bit: a
    // long file at a high rate overflows an int).
    const sf_count_t outputFrames =
        is16kMono ? info.frames
                  : static_cast<sf_count_t>(std::llround(
                        double(info.frames) * parlune::voice::kMorphSampleRate / info.samplerate));
    QString recording16k = input;
    if (!is16kMono) {
        // One block's time of silence more, so the conversion covers every input sample.
        const sf_count_t extra = sf_count_t(info.samplerate) * parlune::voice::kBlockLength /
                                     parlune::voice::kMorphSampleRate +
                                 1;
        const QString raw = work.filePath("recorded.wav");
        if (!copyPadded(files[0], raw.toStdString(), info.frames, info.frames + extra, error))
            return fail("cannot convert " + printable(files[0]) + ": " + error, kWriteError);
        recording16k = work.filePath("recorded16khz.wav");
        store.set(parlune::app::prop::applicationPathREC, raw);
        store.set(parlune::app::prop::applicationPathREC16khz, recording16k);
        if (!parlune::engine::runConvert())
            return fail("cannot convert " + printable(files[0]) +
                            ": cannot write into the temporary folder",
                        kWriteError);
    }
    const QString padded = work.filePath("recorded16khz_whole_blocks.wav");
    if (!copyPadded(recording16k.toStdString(), padded.toStdString(), outputFrames,
                    wholeBlocks(outputFrames), error))
        return fail("cannot convert " + printable(files[0]) + ": " + error, kWriteError);
    store.set(parlune::app::prop::applicationPathREC16khz, padded);
    // The export renders whole blocks into the temporary folder; the input's
    // length of it is then written beside OUT.wav and renamed over it, so a
    // failure anywhere leaves an older OUT.wav as it was.
    const QString exported = work.filePath("exported.wav");
    store.set(parlune::app::prop::fname, exported);
    if (!parlune::engine::runSave())
        return fail("cannot export: cannot write into the temporary folder", kWriteError);
    if (!copyPadded(exported.toStdString(), target.path(), outputFrames, outputFrames, error,
                    &target))
        return fail(error, kWriteError);
    if (!target.commit())
        return fail("cannot write " + printable(files[1]) + ": " + target.error(), kWriteError);

    std::string effects;
    for (const EffectOption* effect : effectsOn)
        effects += std::string(", ") + (effect->option + 2);
    std::printf("%s: %lld samples at 16 kHz, %s, pitch %.3f, formant %.3f%s -> %s\n",
                printable(files[0]).c_str(), static_cast<long long>(outputFrames),
                params.isCartoonMorph ? "cartoon" : "human", params.pitch, params.formant,
                effects.c_str(), printable(files[1]).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return render(argc, argv);
    } catch (const std::exception& e) {
        return fail(e.what(), kWriteError);
    } catch (...) {
        return fail("stopped by an unexpected error", kWriteError);
    }
}
