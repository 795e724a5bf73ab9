// Looptap's configuration and device choice: the speaker name from the first
// line of config.ini, and the rules that pick the playback and capture device
// from the names the wave devices report.
//
// Thread contract: plain functions, called on the library caller's thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace parlune::looptap {

constexpr size_t kMaxLineChars = 99;

// First line of config.ini in the program's data folder (data::configIniPath),
// read a byte per character (at most 99), one trailing line feed removed, cut
// to 31 bytes as the wave devices' names are (wave::capsName). Empty when the
// folder cannot be had or the file cannot be opened. The folder is created
// when it is missing.
std::string ReadPlaybackDeviceName();

// A device name as reported, or nullopt when its capabilities could not be read.
using DeviceNames = std::vector<std::optional<std::string>>;

// Skips names containing "virtual", "fake" or "parlune" in any case; picks
// the first remaining one that contains `wanted` (case-sensitive), else the
// first remaining one; -1 when none remains. The first start of the process
// clears `firstStart` when a device passes the screen.
int ChoosePlaybackDevice(const DeviceNames& names, const std::string& wanted, bool* firstStart);

// The first name that passes the capture screen (screens::IsCaptureCandidate);
// -1 when none.
int ChooseCaptureDevice(const DeviceNames& names);

}  // namespace parlune::looptap
