// parlune-render: morphs a WAV file offline the way the live chain would,
// block by block from a fresh state, and writes a 16-bit 16 kHz mono WAV.
#include <samplerate.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/pad_math.h"
#include "ui/presets.h"
#include "voice/morph_unit.h"

namespace {

constexpr int kUsageError = 2;

void printUsage(FILE* to) {
    std::fprintf(to,
                 "Usage: parlune-render [options] IN.wav OUT.wav\n"
                 "Morphs IN.wav (any rate and channel count; converted to 16 kHz mono)\n"
                 "and writes OUT.wav, 16-bit 16 kHz mono, of the converted input's length.\n"
                 "\n"
                 "  --preset NAME           one of the eight voices (any case):\n"
                 "                          ");
    for (const auto& preset : parlune::ui::presets()) std::fprintf(to, "%s ", preset.name);
    std::fprintf(to,
                 "\n"
                 "  --mode human|cartoon    morph mode (default cartoon)\n"
                 "  --pitch P               pitch control (default 1)\n"
                 "  --formant F             formant control (default 1.5)\n"
                 "  --list-presets          prints the preset names, one a line\n"
                 "  --help                  this text\n"
                 "A preset sets mode, pitch and formant; options after it override them.\n");
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

// Reads the file as mono 16 kHz: channels averaged, other rates converted.
bool readMono16k(const std::string& path, std::vector<float>& mono, std::string& error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        error = path + " has no audio channels";
        return false;
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t frames = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    std::vector<float> downmix(static_cast<size_t>(frames));
    for (sf_count_t f = 0; f < frames; ++f) {
        double sum = 0;
        for (int c = 0; c < info.channels; ++c) sum += interleaved[f * info.channels + c];
        downmix[f] = static_cast<float>(sum / info.channels);
    }
    if (info.samplerate == parlune::voice::kMorphSampleRate) {
        mono.swap(downmix);
        return true;
    }
    const double ratio = double(parlune::voice::kMorphSampleRate) / info.samplerate;
    mono.assign(static_cast<size_t>(std::ceil(downmix.size() * ratio)) + 16, 0.0f);
    SRC_DATA data{};
    data.data_in = downmix.data();
    data.input_frames = static_cast<long>(downmix.size());
    data.data_out = mono.data();
    data.output_frames = static_cast<long>(mono.size());
    data.src_ratio = ratio;
    data.end_of_input = 1;
    const int status = src_simple(&data, SRC_SINC_BEST_QUALITY, 1);
    if (status != 0) {
        error = std::string("sample rate conversion failed: ") + src_strerror(status);
        return false;
    }
    mono.resize(static_cast<size_t>(data.output_frames_gen));
    return true;
}

bool writeMono16k(const std::string& path, const std::vector<float>& samples, std::string& error) {
    SF_INFO info{};
    info.samplerate = parlune::voice::kMorphSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    // Full-scale samples stay full scale instead of wrapping.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t written = sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    const bool ok = written == static_cast<sf_count_t>(samples.size()) && sf_close(file) == 0;
    if (!ok) error = "writing " + path + " failed";
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    parlune::voice::MorphParams params;  // cartoon, pitch 1, formant 1.5 as at start-up
    std::vector<std::string> files;
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
                if (!preset) return fail(std::string("unknown preset '") + value + "' (see --help)");
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
    std::vector<float> input;
    if (!readMono16k(files[0], input, error)) return fail(error);
    const std::vector<float> output = parlune::voice::morphSignal(input, params);
    if (!writeMono16k(files[1], output, error)) return fail(error);
    std::printf("%s: %zu samples at 16 kHz, %s, pitch %.3f, formant %.3f -> %s\n", files[0].c_str(),
                output.size(), params.isCartoonMorph ? "cartoon" : "human", params.pitch,
                params.formant, files[1].c_str());
    return 0;
}
