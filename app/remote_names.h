// The remote control's names on the session bus, shared by the program's
// service and the parlunectl client: the well-known name, the object, the
// interface, its errors and the keys of the voice it reports.
//
// Thread contract: constants only; any thread.
#pragma once

namespace parlune::remote {

// The id the desktop entry and the metainfo use.
inline constexpr char kService[] = "io.github.parlune.Parlune";
inline constexpr char kPath[] = "/Parlune";
inline constexpr char kInterface[] = "io.github.parlune.Parlune";

// An argument the service does not take: a name it does not know, a position
// or pad point outside its range. The message says what would be taken.
inline constexpr char kErrorInvalidArgs[] = "org.freedesktop.DBus.Error.InvalidArgs";
// A call the window refuses right now, as it would refuse the click (the
// record button while a step sequence or a playback runs).
inline constexpr char kErrorBusy[] = "io.github.parlune.Parlune.Error.Busy";

// GetVoice's dictionary and VoiceChanged's list of changed keys.
namespace key {
inline constexpr char mode[] = "mode";  // "human" or "cartoon"
inline constexpr char pitch[] = "pitch";
inline constexpr char formant[] = "formant";
inline constexpr char padX[] = "padX";
inline constexpr char padY[] = "padY";
inline constexpr char preset[] = "preset";                  // "" when none has the applied look
inline constexpr char presetPosition[] = "presetPosition";  // from 1; 0: none
inline constexpr char favorite[] = "favorite";
inline constexpr char favoritePosition[] = "favoritePosition";
inline constexpr char bypass[] = "bypass";  // the morph switch on NORMAL
inline constexpr char recording[] = "recording";
}  // namespace key

// The effect switches by the names the calls take (and the voice's keys).
inline constexpr const char* kEffects[] = {"echo", "reverb", "chorus", "distortion", "tremolo"};

}  // namespace parlune::remote
