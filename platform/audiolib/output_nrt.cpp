// Non-real-time outputs: every update() renders one mixer block on the
// caller's thread, into a 16-bit mono WAV file or nowhere. The file is
// written beside its target and renamed over it only when every block, the
// header and the close were written, so a full disk leaves the old file.
#include <sndfile.h>

#include <memory>

#include "platform/audiolib/internal.h"
#include "platform/base/files.h"
#include "platform/base/pcm16.h"

namespace parlune::audiolib::detail {

namespace {
class NonRealTimeOutput final : public Output {
public:
    NonRealTimeOutput(Mixer* mixer, std::unique_ptr<base::ReplacedFile> target, SNDFILE* file)
        : mixer_(mixer),
          target_(std::move(target)),
          file_(file),
          block_(kMixerBlockFrames),
          pcm_(kMixerBlockFrames) {}
    ~NonRealTimeOutput() override { stop(); }

    Result start() override { return Result::Ok; }

    // After a failed write every later block fails too: the file is lost.
    Result update() override {
        mixer_->renderBlock(block_.data());
        if (!file_) return target_ ? Result::FileWrite : Result::Ok;
        for (int i = 0; i < kMixerBlockFrames; ++i) pcm_[i] = base::toPcm16(block_[i]);
        if (sf_writef_short(file_, pcm_.data(), kMixerBlockFrames) != kMixerBlockFrames) {
            target_->fail(sf_strerror(file_));
            return Result::FileWrite;
        }
        return Result::Ok;
    }

    void stop() override { finish(); }

    Result finish() override {
        if (!target_) return Result::Ok;
        if (file_) {
            // sf_close writes the header's lengths; its error is the last write's.
            if (sf_close(file_) != 0) target_->fail("the header cannot be written");
            file_ = nullptr;
        }
        const bool committed = target_->commit();
        target_.reset();
        return committed ? Result::Ok : Result::FileWrite;
    }

private:
    Mixer* mixer_;
    std::unique_ptr<base::ReplacedFile> target_;  // null for the silent output
    SNDFILE* file_;
    std::vector<float> block_;
    std::vector<short> pcm_;
};
}  // namespace

std::unique_ptr<Output> makeNonRealTimeOutput(Mixer* mixer, const char* wavPath, Result* result) {
    SNDFILE* file = nullptr;
    std::unique_ptr<base::ReplacedFile> target;
    if (wavPath) {
        target = std::make_unique<base::ReplacedFile>(wavPath);
        SF_INFO info{};
        info.samplerate = mixer->rate();
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        // The descriptor stays the ReplacedFile's: it flushes and closes it.
        if (target->valid()) file = sf_open_fd(target->fd(), SFM_WRITE, &info, SF_FALSE);
        if (!file) {
            *result = Result::FileWrite;
            return nullptr;
        }
    }
    *result = Result::Ok;
    return std::make_unique<NonRealTimeOutput>(mixer, std::move(target), file);
}

}  // namespace parlune::audiolib::detail
