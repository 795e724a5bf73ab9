// Every picture of the program's resource bundle: its prefix, file name and
// size in pixels. The generator draws exactly these, the bundle lists exactly
// these, and the bundle test checks each one; a picture is added here first.
// Sizes are those of the widget the picture sits on (or the size its user
// draws it at). Constant data; safe on any thread.
#pragma once

#include <array>

namespace parlune::assets {

// The resource prefixes; a picture's path is ":/<prefix>/assets/<name>".
enum class Prefix { Fixed, Icons, Interactable };

constexpr const char* prefixName(Prefix p) {
    return p == Prefix::Fixed ? "fixed" : p == Prefix::Icons ? "icons" : "interactable";
}

struct Picture {
    Prefix prefix;
    const char* name;
    int width;
    int height;
};

inline constexpr std::array kPictures{
    // Full-window and pad pictures.
    Picture{Prefix::Fixed, "background.png", 1098, 727},
    Picture{Prefix::Fixed, "matrix_human.png", 497, 357},
    Picture{Prefix::Fixed, "matrix_cartoon.png", 497, 357},
    // The first slide is 2 px larger than the window: its label centres it
    // vertically and cuts the right edge, so the window's content sits 1 px
    // down in it.
    Picture{Prefix::Fixed, "overlay_helpA.png", 1100, 729},
    Picture{Prefix::Fixed, "overlay_helpB.png", 1098, 727},
    Picture{Prefix::Fixed, "overlay_howTo.png", 1098, 726},
    Picture{Prefix::Fixed, "overlay_helpD.png", 1098, 727},
    Picture{Prefix::Fixed, "overlay_headsetWarning.png", 410, 340},

    // Icons: the program, the setup menu's entries (16 x 16) and the preset
    // and favorite slots (20 x 20, shown at 16 px).
    Picture{Prefix::Icons, "icon_parlune.png", 256, 256},
    Picture{Prefix::Icons, "icon_skype.png", 16, 16},
    Picture{Prefix::Icons, "icon_teamspeak.png", 16, 16},
    Picture{Prefix::Icons, "icon_steam.png", 16, 16},
    Picture{Prefix::Icons, "icon_ventrilo.png", 16, 16},
    Picture{Prefix::Icons, "icon_more.png", 16, 16},
    Picture{Prefix::Icons, "icon_cartoonPreset.png", 20, 20},
    Picture{Prefix::Icons, "icon_humanPreset.png", 20, 20},

    // Buttons and their state variants.
    Picture{Prefix::Interactable, "switch_parlune.png", 191, 27},
    Picture{Prefix::Interactable, "switch_normal.png", 191, 27},
    Picture{Prefix::Interactable, "switch_micON.png", 127, 27},
    Picture{Prefix::Interactable, "switch_micOFF.png", 127, 27},
    Picture{Prefix::Interactable, "item_fx_off.png", 144, 42},
    Picture{Prefix::Interactable, "item_presets_off.png", 251, 41},
    Picture{Prefix::Interactable, "tab_presets_on.png", 125, 43},
    Picture{Prefix::Interactable, "tab_presets_off.png", 125, 43},
    Picture{Prefix::Interactable, "tab_favorites_on.png", 126, 43},
    Picture{Prefix::Interactable, "tab_favorites_off.png", 126, 43},
    Picture{Prefix::Interactable, "btn_save.png", 150, 34},
    Picture{Prefix::Interactable, "btn_save_hov.png", 150, 34},
    Picture{Prefix::Interactable, "ddown_drivers_off.png", 252, 43},
    Picture{Prefix::Interactable, "matrix_cursor.png", 27, 27},
    Picture{Prefix::Interactable, "btn_record.png", 85, 84},
    Picture{Prefix::Interactable, "btn_record_clic.png", 85, 84},
    Picture{Prefix::Interactable, "btn_rec_on.png", 85, 84},
    Picture{Prefix::Interactable, "btn_rec_off.png", 85, 84},
    Picture{Prefix::Interactable, "btn_saveWav.png", 59, 62},
    Picture{Prefix::Interactable, "btn_saveWav_clic.png", 59, 62},
    Picture{Prefix::Interactable, "btn_saveWav_dis.png", 59, 62},
    Picture{Prefix::Interactable, "btn_play.png", 59, 62},
    Picture{Prefix::Interactable, "btn_play_clic.png", 59, 62},
    Picture{Prefix::Interactable, "btn_twitter.png", 37, 37},
    Picture{Prefix::Interactable, "btn_facebook.png", 36, 37},
    Picture{Prefix::Interactable, "btn_email.png", 36, 37},
    Picture{Prefix::Interactable, "btn_help.png", 27, 37},
    Picture{Prefix::Interactable, "btn_headset.png", 28, 37},
    Picture{Prefix::Interactable, "btn_soundSettings.png", 34, 37},
    Picture{Prefix::Interactable, "btn_minimize.png", 20, 15},
    Picture{Prefix::Interactable, "btn_minimize_hov.png", 20, 15},
    Picture{Prefix::Interactable, "btn_close.png", 16, 15},
    Picture{Prefix::Interactable, "btn_close_hov.png", 16, 15},
    Picture{Prefix::Interactable, "btn_nextSlide.png", 48, 48},
    Picture{Prefix::Interactable, "btn_nextSlide_hov.png", 48, 48},
    Picture{Prefix::Interactable, "btn_prevSlide.png", 48, 48},
    Picture{Prefix::Interactable, "btn_prevSlide_hov.png", 48, 48},
    Picture{Prefix::Interactable, "btn_closeSlides.png", 32, 32},
    Picture{Prefix::Interactable, "btn_closeSlides_hov.png", 32, 32},
};

// The embedded fonts, registered by registerResources(); the form's other
// families fall back to Roboto.
inline constexpr std::array kFonts{":/fonts/Roboto-Regular.ttf", ":/fonts/Roboto-Bold.ttf"};
inline constexpr std::array kFallbackFamilies{"MS Shell Dlg 2", "Arial Rounded MT Bold"};

}  // namespace parlune::assets
