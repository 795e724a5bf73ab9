#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/audiolib/internal.h"
#include "platform/base/pcm16.h"

namespace parlune::audiolib::detail {

namespace {
// Small feed pieces keep the resampler's read-ahead, and so the gap between
// the reported and the audible position, short.
constexpr size_t kFeedFrames = 256;

using base::fromPcm16;
using base::toPcm16;
}  // namespace

SoundObject::~SoundObject() {
    if (stream) sf_close(stream);
}

void SoundObject::readMono(uint64_t frame, size_t count, float* out) const {
    const float scale = 1.0f / static_cast<float>(channels);
    if (stream) {
        // Pieces of the buffer's length; what the file no longer holds (cut
        // short since it was opened) is silence.
        const size_t chunk = streamBuffer.size() / channels;
        while (count > 0) {
            const size_t piece = std::min(count, chunk);
            if (streamCursor != frame) {
                sf_seek(stream, static_cast<sf_count_t>(frame), SEEK_SET);
                streamCursor = frame;
            }
            sf_count_t got = sf_readf_float(stream, streamBuffer.data(), piece);
            if (got < 0) got = 0;
            const size_t samples = static_cast<size_t>(got) * channels;
            std::fill(streamBuffer.begin() + samples, streamBuffer.begin() + piece * channels, 0.0f);
            base::silenceNonFinite(streamBuffer.data(), samples);
            streamCursor += static_cast<uint64_t>(got);
            for (size_t i = 0; i < piece; ++i) {
                float sum = 0;
                for (int c = 0; c < channels; ++c) sum += streamBuffer[i * channels + c];
                out[i] = channels == 1 ? sum : sum * scale;
            }
            out += piece;
            frame += piece;
            count -= piece;
        }
        return;
    }
    if (ringData) {
        const std::atomic<int16_t>* base = ringData.get() + frame * channels;
        for (size_t i = 0; i < count; ++i) {
            float sum = 0;
            for (int c = 0; c < channels; ++c)
                sum += fromPcm16(base[i * channels + c].load(std::memory_order_relaxed));
            out[i] = channels == 1 ? sum : sum * scale;
        }
    } else {
        const float* base = fileData.data() + frame * channels;
        for (size_t i = 0; i < count; ++i) {
            float sum = 0;
            for (int c = 0; c < channels; ++c) sum += base[i * channels + c];
            out[i] = channels == 1 ? sum : sum * scale;
        }
    }
}

void SoundObject::writeFrames(uint64_t frame, size_t count, const float* interleaved) {
    if (!ringData) return;
    std::atomic<int16_t>* base = ringData.get() + frame * channels;
    for (size_t i = 0; i < count * channels; ++i)
        // Captured infinities become silence like NaN, not a full-scale click.
        base[i].store(toPcm16(std::isfinite(interleaved[i]) ? interleaved[i] : 0.0f),
                      std::memory_order_relaxed);
}

ChannelSlot::~ChannelSlot() {
    if (resampler) src_delete(resampler);
}

RecordTarget::RecordTarget(std::shared_ptr<SoundObject> sound, bool loop)
    : sound_(std::move(sound)), loop_(loop) {
    sound_->recordings.fetch_add(1);
}

RecordTarget::~RecordTarget() { sound_->recordings.fetch_sub(1); }

bool RecordTarget::write(const float* frames, size_t count) {
    uint64_t position = position_.load(std::memory_order_relaxed);
    const uint64_t length = sound_->frames;
    while (count > 0) {
        size_t piece = static_cast<size_t>(std::min<uint64_t>(count, length - position));
        sound_->writeFrames(position, piece, frames);
        frames += piece * sound_->channels;
        count -= piece;
        position += piece;
        if (position >= length) {
            if (!loop_) {
                position_.store(static_cast<unsigned>(length), std::memory_order_release);
                return false;
            }
            position = 0;
        }
    }
    position_.store(static_cast<unsigned>(position), std::memory_order_release);
    return true;
}

void RecordTarget::silenceLoop() {
    if (!loop_ || !sound_->ringData) return;
    const uint64_t samples = sound_->frames * static_cast<uint64_t>(sound_->channels);
    for (uint64_t i = 0; i < samples; ++i) sound_->ringData[i].store(0, std::memory_order_relaxed);
}

// Resampler input: the next piece of the channel's sound, mixed to mono.
long feedChannel(void* data, float** out) {
    auto& slot = *static_cast<ChannelSlot*>(data);
    const SoundObject& sound = *slot.sound;
    if (slot.feedEnded) return 0;
    if (slot.feedCursor >= sound.frames) {
        if (!sound.loops()) {
            slot.feedEnded = true;
            return 0;
        }
        slot.feedCursor = 0;
    }
    size_t count =
        static_cast<size_t>(std::min<uint64_t>(kFeedFrames, sound.frames - slot.feedCursor));
    sound.readMono(slot.feedCursor, count, slot.feedBuffer.data());
    slot.feedCursor += count;
    *out = slot.feedBuffer.data();
    return static_cast<long>(count);
}

Mixer::Mixer(SystemObject* system, int rate, int maxChannels)
    : reverb(rate),
      system_(system),
      rate_(rate),
      mix_(kMixerBlockFrames),
      scratch_(kMixerBlockFrames),
      channelOut_(kMixerBlockFrames) {
    slots.reserve(maxChannels);
    for (int i = 0; i < maxChannels; ++i) {
        auto slot = std::make_shared<ChannelSlot>();
        slot->system = system;
        slot->feedBuffer.resize(kFeedFrames);
        slots.push_back(std::move(slot));
    }
}

Mixer::~Mixer() = default;

// Renders one channel into `out` (kMixerBlockFrames frames), advancing it.
void Mixer::renderChannel(ChannelSlot& slot, float* out) {
    const SoundObject& sound = *slot.sound;
    const float frequency = slot.frequency.load(std::memory_order_relaxed);
    const bool direct = sound.channels == 1 && frequency == static_cast<float>(rate_);
    double position = slot.position.load(std::memory_order_relaxed);
    size_t produced = 0;

    if (direct || sound.frames == 0) {
        // Same rate and mono: the samples pass through as they are, no delay.
        slot.resampling = false;
        uint64_t cursor = static_cast<uint64_t>(position);
        while (produced < kMixerBlockFrames && sound.frames > 0) {
            if (cursor >= sound.frames) {
                if (!sound.loops()) break;
                cursor = 0;
            }
            size_t piece = static_cast<size_t>(
                std::min<uint64_t>(kMixerBlockFrames - produced, sound.frames - cursor));
            sound.readMono(cursor, piece, out + produced);
            produced += piece;
            cursor += piece;
        }
        position = static_cast<double>(cursor);
    } else {
        if (!slot.resampling) {
            src_reset(slot.resampler);
            slot.feedCursor = static_cast<uint64_t>(position);
            slot.feedEnded = false;
            slot.resampling = true;
        }
        double ratio = static_cast<double>(rate_) / frequency;
        ratio = std::clamp(ratio, 1.0 / 256.0, 256.0);
        long got = src_callback_read(slot.resampler, ratio, kMixerBlockFrames, out);
        produced = got > 0 ? static_cast<size_t>(got) : 0;
        position += static_cast<double>(produced) / ratio;
        if (sound.loops()) {
            const double length = static_cast<double>(sound.frames);
            position -= std::floor(position / length) * length;
        } else if (produced < kMixerBlockFrames) {
            position = static_cast<double>(sound.frames);
        }
    }
    if (!sound.loops() && position >= static_cast<double>(sound.frames))
        position = static_cast<double>(sound.frames);
    std::fill(out + produced, out + kMixerBlockFrames, 0.0f);
    slot.position.store(position, std::memory_order_relaxed);
    if (produced < kMixerBlockFrames && !sound.loops()) slot.playing.store(false);
}

void Mixer::renderBlock(float* out) {
    std::lock_guard<std::mutex> guard(lock);
    std::fill(mix_.begin(), mix_.end(), 0.0f);
    for (auto& slot : slots) {
        if (!slot->playing.load(std::memory_order_relaxed) ||
            slot->paused.load(std::memory_order_relaxed))
            continue;
        renderChannel(*slot, channelOut_.data());
        for (int i = 0; i < kMixerBlockFrames; ++i) mix_[i] += channelOut_[i];
    }

    // The tail of the chain (highest index) runs first, the head last.
    const std::vector<DspObject*>& chain = system_->master->chain;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        DspObject& dsp = **it;
        if (dsp.bypass.load(std::memory_order_relaxed)) continue;
        if (dsp.builtin) {
            if (dsp.resetPending.exchange(false)) dsp.builtin->reset();
            dsp.builtin->process(mix_.data(), mix_.data(), kMixerBlockFrames);
            continue;
        }
        if (!dsp.description.read) continue;
        int outChannels = 1;
        Result result = dsp.description.read(&dsp.state, mix_.data(), scratch_.data(),
                                             kMixerBlockFrames, 1, &outChannels);
        if (result == Result::Ok) {
            mix_.swap(scratch_);
        } else {
            system_->failures.post(result,
                                   "a DSP read callback failed; its block passed unchanged");
        }
    }

    if (reverbActive.load(std::memory_order_relaxed))
        reverb.process(mix_.data(), mix_.data(), kMixerBlockFrames);
    std::memcpy(out, mix_.data(), sizeof(float) * kMixerBlockFrames);
    blocks.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace parlune::audiolib::detail
