#include "voice/morph_unit.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "voice/kernels.h"

namespace parlune::voice {
namespace {

template <typename T>
void zeroNonFinite(T* values, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) values[i] = 0;
}

// Last line of defence for each mode's carried state: whatever a stage let
// through, nothing non-finite is carried into the next block. Finite state is
// left exactly as the stage wrote it.
void scrubCarried(HumanMorphState& human) {
    human.tailLength =
        std::clamp<int32_t>(human.tailLength, human::kMinTailLength, human::kMaxTailLength);
    zeroNonFinite(human.tail, human.tailLength);
}

void scrubCarried(CartoonMorphState& cartoon) {
    constexpr int kPendingCapacity = sizeof(CartoonMorphState::pendingOutput) / sizeof(float);
    cartoon.pendingLength = std::clamp<int32_t>(cartoon.pendingLength, 0, kPendingCapacity);
    zeroNonFinite(cartoon.pendingOutput, cartoon.pendingLength);
    zeroNonFinite(cartoon.analysisInputHistory,
                  static_cast<int>(std::size(cartoon.analysisInputHistory)));
    zeroNonFinite(cartoon.synthesisOutputHistory,
                  static_cast<int>(std::size(cartoon.synthesisOutputHistory)));
}

void runCartoon(const MorphParams& params, MorphState& state) {
    // Clamp in double against 1.7 and 0.65, storing the float limits; NaN,
    // which no comparison catches, reads as the unchanged pitch.
    float pitch = std::isnan(params.pitch) ? 1.0f : params.pitch;
    if (static_cast<double>(pitch) > 1.7)
        pitch = 1.7f;
    else if (static_cast<double>(pitch) < 0.65)
        pitch = 0.65f;
    // A non-finite warp strength has no curve; read it as no warp.
    const float formant = std::isfinite(params.formant) ? params.formant : 0.0f;
    WarpMap(formant, kBlockLength, state.warpMap);
    CartoonMorph(state.blockIn, kBlockLength, state.hannWindow, pitch, state.warpMap, state.cartoon,
                 state.blockOut);
    scrubCarried(state.cartoon);
}

void runHuman(const MorphParams& params, MorphState& state) {
    HumanMorphState& human = state.human;
    std::copy(human.analysisWindow + kBlockLength, human.analysisWindow + human::kWindowLength,
              human.analysisWindow);
    for (int k = 0; k < kBlockLength; ++k)
        human.analysisWindow[2 * kBlockLength + k] = static_cast<double>(state.blockIn[k]);

    const float formant = std::isfinite(params.formant) ? params.formant : 1.0f;
    linspace(0.0, static_cast<double>(formant), kAxisLength, state.formantAxis);

    // Pitch control to period factor: above 1 the difference is taken in float
    // and the rest in double; below 1 the whole expression is float.
    const float pitch = std::isnan(params.pitch) ? 1.0f : params.pitch;
    double factor;
    if (pitch >= 1.0f)
        factor = 1.0 - static_cast<double>(pitch - 1.0f) * 0.5;
    else
        factor = static_cast<double>((1.0f - pitch) * 2.0f + 1.0f);
    if (factor > static_cast<double>(1.7f))
        factor = static_cast<double>(1.7f);
    else if (factor < static_cast<double>(0.65f))
        factor = static_cast<double>(0.65f);

    human.tailLength = HumanMorph(human.analysisWindow, human::kWindowLength, kBlockLength,
                                  2 * kBlockLength - 1, human.tail, human.tailLength, factor,
                                  state.formantAxis, human.outputBlock, state.humanWork);
    for (int k = 0; k < kBlockLength; ++k)
        state.blockOut[k] = static_cast<float>(human.outputBlock[k]);
    scrubCarried(human);
}

// Morphs state.blockIn into state.blockOut.
void morphOneBlock(const MorphParams& params, MorphState& state) {
    zeroNonFinite(state.blockIn, kBlockLength);
    if (params.isCartoonMorph)
        runCartoon(params, state);
    else
        runHuman(params, state);
    zeroNonFinite(state.blockOut, kBlockLength);
}

}  // namespace

MorphState::MorphState() : human(), cartoon(), warpMap(), formantAxis(), blockIn(), blockOut() {
    // The transforms build their sine tables on first use; do it here, not
    // on the audio thread.
    float re[4] = {}, im[4] = {};
    fftRadix2(re, im, 4);
    for (int n = 0; n < kBlockLength; ++n)
        hannWindow[n] = static_cast<float>(
            0.5 * (1.0 - std::cos(2.0 * M_PI * n / static_cast<double>(kBlockLength - 1))));
}

MorphState& processMorphState() {
    static MorphState state;
    return state;
}

std::unique_ptr<MorphState> makeMorphState() { return std::make_unique<MorphState>(); }

void processMorphBlock(const float* in, float* out, unsigned length, int inChannels,
                       const MorphParams& params, MorphState& state) {
    if (!in || !out || inChannels < 1) return;
    const size_t channels = static_cast<size_t>(inChannels);
    for (size_t done = 0; done < length; done += kBlockLength) {
        const size_t frames = std::min<size_t>(kBlockLength, length - done);
        const float* source = in + done * channels;
        for (size_t k = 0; k < frames; ++k) {
            float sum = 0.0f;
            for (size_t c = 0; c < channels; ++c) sum += source[k * channels + c];
            state.blockIn[k] = channels == 1 ? sum : sum / static_cast<float>(channels);
        }
        std::fill(state.blockIn + frames, state.blockIn + kBlockLength, 0.0f);
        morphOneBlock(params, state);
        float* target = out + done * channels;
        for (size_t k = 0; k < frames; ++k)
            for (size_t c = 0; c < channels; ++c) target[k * channels + c] = state.blockOut[k];
    }
}

std::vector<float> morphSignal(const std::vector<float>& mono16k, const MorphParams& params) {
    std::vector<float> out(mono16k.size());
    auto state = makeMorphState();
    constexpr size_t kChunk = size_t(kBlockLength) << 10;  // keeps each call's length in range
    for (size_t done = 0; done < mono16k.size(); done += kChunk) {
        const size_t frames = std::min(kChunk, mono16k.size() - done);
        processMorphBlock(mono16k.data() + done, out.data() + done, static_cast<unsigned>(frames),
                          1, params, *state);
    }
    return out;
}

}  // namespace parlune::voice
