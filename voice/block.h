// The lengths the whole voice side shares: the block both morphs work in and
// the formant axis of the human morph.
#pragma once

namespace parlune::voice {

// Samples per morph block: 64 ms of mono at kMorphSampleRate. The audio
// library's mixer block (its own kMixerBlockFrames) has the same length; the
// engine's morph adapter checks that they agree.
constexpr int kBlockLength = 1024;
constexpr int kMorphSampleRate = 16000;

// Points of the human morph's formant axis: where the scaled envelope of a
// grain is read along frequency.
constexpr int kAxisLength = 512;

}  // namespace parlune::voice
