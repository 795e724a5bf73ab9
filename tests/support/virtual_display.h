// A private X display for tests that drive a real window of a program with
// real input events, as a person would: Xvfb on a display number it picks
// itself, and xdotool's pointer on the program's window.
//
// Thread contract: one thread uses a VirtualDisplay and its windows.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include "tests/support/run_program.h"

namespace parlune::test {

class VirtualDisplay {
public:
    // Starts Xvfb (1280x800, 24 bits) and waits until it takes clients.
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool ok() const { return !name_.empty(); }
    const std::string& name() const { return name_; }  // ":N", DISPLAY's value
    // Xvfb's own words when it did not start.
    std::string failure() const;

private:
    std::unique_ptr<BackgroundProgram> server_;
    std::string name_;
};

// The visible top-level window of a process on a display; points are
// relative to the window's top left corner.
class ProgramWindow {
public:
    // Waits up to timeoutMs for the window of process `pid` to be mapped.
    static std::optional<ProgramWindow> find(const VirtualDisplay& display, pid_t pid,
                                             int timeoutMs);
    // Presses and releases the left button `count` times, 80 ms apart (two
    // make a double click).
    bool click(int x, int y, int count = 1) const;

private:
    ProgramWindow(std::string display, std::string id)
        : display_(std::move(display)), id_(std::move(id)) {}
    std::string display_;
    std::string id_;
};

}  // namespace parlune::test
