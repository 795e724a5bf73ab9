#include "ui/core/presets.h"

#include <cctype>

namespace parlune::ui {

const std::array<Preset, kPresetCount>& presets() {
    static constexpr std::array<Preset, kPresetCount> table = {{
        {"DAVID", 0.7, 0.85, false},
        {"JOHN", 0.67, 1.07, false},
        {"ALICE", 1.4, 1.15, false},
        {"EMILY", 1.5, 0.9, false},
        {"GOBLIN", 1.4, 0.75, true},
        {"MEERKAT", 1.67, 0.1, true},
        {"ROBOT", 0.7, 2.0, true},
        {"ALIEN", 0.8, 0.4, true},
    }};
    return table;
}

const Preset* findPreset(std::string_view name) {
    for (const Preset& preset : presets()) {
        const std::string_view candidate(preset.name);
        if (candidate.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = std::toupper(static_cast<unsigned char>(name[i])) == candidate[i];
        if (same) return &preset;
    }
    return nullptr;
}

}  // namespace parlune::ui
