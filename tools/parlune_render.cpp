// parlune-render: exports a WAV file through the morph and the effects with
// the same routine the window's export runs, so a file rendered here and one
// exported from the window are identical. The input is first converted to
// 16 kHz mono the way a recording is, when it is not already.
#include <sndfile.h>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/properties.h"
#include "engine/engine.h"
#include "ui/core/pad_math.h"
#include "ui/core/presets.h"
#include "voice/morph_unit.h"

namespace {

constexpr int kUsageError = 2;

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
                 "  --pitch P               pitch control (default 1)\n"
                 "  --formant F             formant control (default 1.5)\n"
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

int fail(const std::string& message) {
    std::fprintf(stderr, "parlune-render: %s\n", message.c_str());
    return kUsageError;
}

bool parseNumber(const char* text, float& value) {
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(parsed)) return false;
    value = static_cast<float>(parsed);
    return true;
}

// Rate and channel count of a readable audio file; false with a message otherwise.
bool probeInput(const std::string& path, SF_INFO& info, std::string& error) {
    info = SF_INFO{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    sf_close(file);
    if (info.channels < 1 || info.samplerate < 1) {
        error = path + " has no audio channels";
        return false;
    }
    return true;
}

// The conversion and the export render whole 64 ms blocks only, dropping a
// last partial block. So that the file comes out as long as the input, the
// renderer pads with silence before each of them and cuts the result back.

// Copies the first `keep` frames of `from` (silence where it is shorter) into
// `to`, padded with silence to `padTo` frames.
bool copyPadded(const std::string& from, const std::string& to, sf_count_t keep, sf_count_t padTo) {
    SF_INFO info{};
    SNDFILE* in = sf_open(from.c_str(), SFM_READ, &info);
    if (!in) return false;
    padTo = std::max(padTo, keep);
    const size_t count = static_cast<size_t>(padTo) * info.channels;
    const sf_count_t available = std::min(keep, info.frames);
    SF_INFO outInfo = info;
    SNDFILE* out = sf_open(to.c_str(), SFM_WRITE, &outInfo);
    if (!out) {
        sf_close(in);
        return false;
    }
    // Integer samples go through as integers: libsndfile's float scaling is not
    // symmetric for PCM (read / 32768, write x 32767), and the morph would
    // amplify that difference.
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    bool written;
    if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE) {
        std::vector<double> samples(count, 0.0);
        sf_readf_double(in, samples.data(), available);
        written = sf_writef_double(out, samples.data(), padTo) == padTo;
    } else {
        std::vector<int> samples(count, 0);
        sf_readf_int(in, samples.data(), available);
        written = sf_writef_int(out, samples.data(), padTo) == padTo;
    }
    sf_close(in);
    sf_close(out);
    return written;
}

sf_count_t wholeBlocks(sf_count_t frames) {
    const sf_count_t block = parlune::voice::kBlockLength;
    return (frames + block - 1) / block * block;
}

bool cutToFrames(const std::string& path, sf_count_t frames) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_RDWR, &info);
    if (!file) return false;
    const bool cut =
        info.frames <= frames || sf_command(file, SFC_FILE_TRUNCATE, &frames, sizeof(frames)) == 0;
    sf_close(file);
    return cut;
}

bool readableWav(const std::string& path, sf_count_t& frames) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return false;
    sf_close(file);
    frames = info.frames;
    return true;
}

// The engine's runs log what they do; a command line keeps quiet about it.
void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtDebugMsg) std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
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
                    return fail(std::string("unknown preset '") + value + "' (see --help)");
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
                    return fail(std::string("--mode takes human or cartoon, not '") + value + "'");
            } else if (!parseNumber(value, arg == "--pitch" ? params.pitch : params.formant)) {
                return fail(arg + " takes a number, not '" + value + "'");
            }
        } else if (const EffectOption* effect = findEffectOption(arg)) {
            effectsOn.push_back(effect);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + arg + " (see --help)");
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
    qInstallMessageHandler(quietDebug);

    QTemporaryDir work;
    if (!work.isValid()) return fail("cannot make a temporary folder");
    const QString input = QString::fromLocal8Bit(files[0].c_str());
    const QString output = QString::fromLocal8Bit(files[1].c_str());
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
    // Frames the result must have: the input's length at 16 kHz.
    const sf_count_t outputFrames =
        is16kMono ? info.frames
                  : static_cast<sf_count_t>(std::llround(
                        double(info.frames) * parlune::voice::kMorphSampleRate / info.samplerate));
    QString recording16k = input;
    if (!is16kMono) {
        // One block's time of silence more, so the conversion covers every input sample.
        const sf_count_t extra =
            info.samplerate * parlune::voice::kBlockLength / parlune::voice::kMorphSampleRate + 1;
        const QString raw = work.filePath("recorded.wav");
        if (!copyPadded(files[0], raw.toStdString(), info.frames, info.frames + extra))
            return fail("cannot convert " + files[0]);
        recording16k = work.filePath("recorded16khz.wav");
        store.set(parlune::app::prop::applicationPathREC, raw);
        store.set(parlune::app::prop::applicationPathREC16khz, recording16k);
        parlune::engine::runConvert();
    }
    const QString padded = work.filePath("recorded16khz_whole_blocks.wav");
    if (!copyPadded(recording16k.toStdString(), padded.toStdString(), outputFrames,
                    wholeBlocks(outputFrames)))
        return fail("cannot convert " + files[0]);
    store.set(parlune::app::prop::applicationPathREC16khz, padded);
    QFile::remove(output);
    store.set(parlune::app::prop::fname, output);
    parlune::engine::runSave();
    cutToFrames(files[1], outputFrames);

    sf_count_t frames = 0;
    if (!readableWav(files[1], frames)) return fail("cannot write " + files[1]);
    std::string effects;
    for (const EffectOption* effect : effectsOn)
        effects += std::string(", ") + (effect->option + 2);
    std::printf("%s: %lld samples at 16 kHz, %s, pitch %.3f, formant %.3f%s -> %s\n",
                files[0].c_str(), static_cast<long long>(frames),
                params.isCartoonMorph ? "cartoon" : "human", params.pitch, params.formant,
                effects.c_str(), files[1].c_str());
    return 0;
}
