// PlayDev.ini as the switcher writes it: UTF-16LE text without a byte-order
// mark, each line ended by a line feed (0x0A 0x00):
//
//   line 1: the friendly name of the remembered playback device
//   line 2: "sink=" followed by its server name
//   line 3: "run=" followed by the run that wrote it (see Remembered::run);
//           absent in records of older switchers
//
// The friendly name comes first because the program's start-up check only
// looks for the word "Parlune" (which the virtual device's friendly name
// carries); the switcher itself restores by the server name. Both read the
// file through readBytes, each with its own reading rule.
//
// Thread contract: free functions without shared state; any thread.
#pragma once

#include <optional>
#include <string>

namespace parlune::playdev {

struct Remembered {
    std::string friendlyName;  // UTF-8
    std::string sinkName;      // server name
    // The program run whose switcher wrote the record (its process id and
    // start time), so a second "setplay" of the same run keeps the device
    // remembered first; empty when unknown.
    std::string run;
};

std::string utf8ToUtf16le(const std::string& utf8);
std::string utf16leToUtf8(const std::string& bytes);

std::string encode(const Remembered& device);
// nullopt when no "sink=" line is there; `run` from a "run=" line after it.
std::optional<Remembered> decode(const std::string& bytes);

// The file's bytes; nullopt when it cannot be opened or is not a regular file
// of at most 64 KiB (a folder, a FIFO, a device), with the reason in errorText
// (if given).
std::optional<std::string> readBytes(const std::string& path, std::string* errorText = nullptr);

std::optional<Remembered> readFile(const std::string& path);
bool writeFile(const std::string& path, const Remembered& device);

// The start-up check's reading rule: true when a line of the file contains
// "Parlune" (case-sensitive), each line read as 8-bit text keeping its
// characters at even positions (the ASCII text of a UTF-16LE line). When the
// file cannot be opened the answer is false and errorText (if given) receives
// the system's reason.
bool isParluneinPlayDeviceINI(const std::string& path, std::string* errorText = nullptr);
// The same for the file in the per-user temporary folder.
bool isParluneinPlayDeviceINI();

}  // namespace parlune::playdev
