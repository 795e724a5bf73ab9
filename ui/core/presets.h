// The eight built-in voices: a pad point and a mode each, in list order.
// Constant data; safe on any thread.
#pragma once

#include <array>
#include <string_view>

namespace parlune::ui {

struct Preset {
    const char* name;
    double padX;
    double padY;
    bool cartoon;
};

constexpr int kPresetCount = 8;
const std::array<Preset, kPresetCount>& presets();

// The preset of that name, ignoring case, or nullptr.
const Preset* findPreset(std::string_view name);

}  // namespace parlune::ui
