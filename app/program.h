// The program's run, from the single-instance test to the last tear-down
// step: the application object, the window, the event loop, then the live
// chain's release and the routing stop before the window and the
// application object go. An exception that escapes any of it ends in a
// "CRASH" box and exit code 0.
//
// Thread contract: call once, on the main thread (it becomes the GUI thread).
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace parlune::app {

// The parts the run uses, replaceable by tests; an empty member means the
// program's own.
struct ProgramParts {
    // The window; the program's own is MainWindow with the remote control
    // and the desktop's hotkeys on the session bus.
    std::function<std::unique_ptr<QWidget>()> makeWindow;
    // Shows a modal crash box with this title and "Catching crash...".
    std::function<void(const QString& title)> showCrashBox;
    // Waits up to the given milliseconds for the live chain to let go of
    // its audio; engine::waitForLiveChainIdle.
    std::function<bool(int timeoutMs)> waitForLiveChain;
    // Gives the default playback device back and stops the pass-through;
    // routing::stopQuibRestore.
    std::function<void()> stopRouting;
    // The lock file of the single-instance test.
    std::string lockPath;
};

// Returns the event loop's exit code, or 0 when another copy runs or after
// a crash box.
int runProgram(int argc, char** argv, ProgramParts parts = {});

}  // namespace parlune::app
