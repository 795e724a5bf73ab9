// SIGINT and SIGTERM end the event loop instead of the process, so the
// normal tear-down runs (the default playback device is given back) when a
// terminal or the desktop session ends the program.
//
// Thread contract: install once on the GUI thread after the application
// object exists. The signal handler only writes a byte to a pipe (async-
// signal-safe); the quit happens on the GUI thread.
#pragma once

namespace parlune::app {

// False when the pipe or the handlers could not be set up (the signals then
// keep their default action).
bool quitEventLoopOnSignals();

}  // namespace parlune::app
