// The built-in unit types, wrapping the effect classes of effects/.
#include "platform/audiolib/internal.h"

namespace parlune::audiolib::detail {

namespace {
template <class Effect>
class Builtin final : public BuiltinUnit {
public:
    explicit Builtin(int sampleRate) : effect_(sampleRate) {}
    void process(const float* in, float* out, int frames) override {
        effect_.process(in, out, frames);
    }
    void reset() override { effect_.reset(); }
    bool setParameter(int index, float value) override {
        return effect_.setParameterFloat(index, value);
    }
    bool getParameter(int index, float* value) const override {
        return effect_.getParameterFloat(index, value);
    }

private:
    Effect effect_;
};
}  // namespace

std::unique_ptr<BuiltinUnit> makeBuiltinUnit(DspType type, int sampleRate) {
    switch (type) {
        case DspType::Echo:
            return std::make_unique<Builtin<fx::EchoUnit>>(sampleRate);
        case DspType::Chorus:
            return std::make_unique<Builtin<fx::ChorusUnit>>(sampleRate);
        case DspType::Distortion:
            return std::make_unique<Builtin<fx::DistortionUnit>>(sampleRate);
        case DspType::Tremolo:
            return std::make_unique<Builtin<fx::TremoloUnit>>(sampleRate);
        default:
            return nullptr;
    }
}

}  // namespace parlune::audiolib::detail
