// The per-user files of Parlune: the data folder and its config.ini, and where
// the switcher's PlayDev.ini lives (playdev_file.h reads and writes it). No Qt
// here, so Looptap, the companions and the tools share the same rules.
//
// Thread contract: free functions without shared state; any thread.
#pragma once

#include <string>

namespace parlune::data {

// $XDG_DATA_HOME/Parlune, else $HOME/.local/share/Parlune; empty when neither
// variable is set.
std::string dataFolder();
// $XDG_RUNTIME_DIR, else $HOME/.cache; empty when neither is set.
std::string perUserTempFolder();
std::string configIniPath();   // data folder + "/config.ini"
std::string playDevIniPath();  // temporary folder + "/PlayDev.ini"
std::string switcherPath();    // data folder + "/swaplane"
std::string favoritesPath();   // data folder + "/favorites.dat"

// Creates the data folder and its media folder and copies the switcher
// program from programFolder into the data folder (replacing an older copy).
// False when a step failed; the steps that can be done are done.
bool prepareDataFolder(const std::string& programFolder);

// Replaces config.ini with the name's bytes, no line end (written beside it
// and renamed over it). When it cannot be written the old file stays; the
// result is for callers that care.
bool writeConfigIni(const std::string& path, const std::string& deviceName);

// Text read from a file or given by the user, made safe to print on a
// terminal: control characters (C0, DEL, C1) and byte-order marks each become
// '?'; other UTF-8 bytes stay as they are.
std::string printable(const std::string& text);

}  // namespace parlune::data
