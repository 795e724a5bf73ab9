// Non-real-time outputs: every update() renders one mixer block on the
// caller's thread, into a 16-bit mono WAV file or nowhere.
#include <sndfile.h>

#include "platform/audiolib/internal.h"
#include "platform/base/pcm16.h"

namespace parlune::audiolib::detail {

namespace {
class NonRealTimeOutput final : public Output {
public:
    NonRealTimeOutput(Mixer* mixer, SNDFILE* file)
        : mixer_(mixer), file_(file), block_(kMixerBlockFrames), pcm_(kMixerBlockFrames) {}
    ~NonRealTimeOutput() override { stop(); }

    Result start() override { return Result::Ok; }

    Result update() override {
        mixer_->renderBlock(block_.data());
        if (!file_) return Result::Ok;
        for (int i = 0; i < kMixerBlockFrames; ++i) pcm_[i] = base::toPcm16(block_[i]);
        if (sf_writef_short(file_, pcm_.data(), kMixerBlockFrames) != kMixerBlockFrames)
            return Result::FileWrite;
        return Result::Ok;
    }

    void stop() override {
        if (file_) sf_close(file_);
        file_ = nullptr;
    }

private:
    Mixer* mixer_;
    SNDFILE* file_;
    std::vector<float> block_;
    std::vector<short> pcm_;
};
}  // namespace

std::unique_ptr<Output> makeNonRealTimeOutput(Mixer* mixer, const char* wavPath, Result* result) {
    SNDFILE* file = nullptr;
    if (wavPath) {
        SF_INFO info{};
        info.samplerate = mixer->rate();
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        file = sf_open(wavPath, SFM_WRITE, &info);
        if (!file) {
            *result = Result::FileWrite;
            return nullptr;
        }
    }
    *result = Result::Ok;
    return std::make_unique<NonRealTimeOutput>(mixer, file);
}

}  // namespace parlune::audiolib::detail
