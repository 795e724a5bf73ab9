#include "tests/support/virtual_display.h"

#include <signal.h>

#include <cctype>
#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

namespace parlune::test {
namespace {

using Clock = std::chrono::steady_clock;

// The display number Xvfb writes to -displayfd once it is ready: a line of
// digits alone (its warnings share the output).
std::string displayNumber(const std::string& output) {
    std::stringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        bool digits = !line.empty();
        for (char c : line) digits &= std::isdigit(static_cast<unsigned char>(c)) != 0;
        if (digits) return line;
    }
    return "";
}

}  // namespace

VirtualDisplay::VirtualDisplay() {
    server_ = std::make_unique<BackgroundProgram>(std::vector<std::string>{
        "Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (server_->running() && Clock::now() < deadline) {
        const std::string number = displayNumber(server_->outputSoFar());
        if (!number.empty()) {
            name_ = ":" + number;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

VirtualDisplay::~VirtualDisplay() {
    if (server_ && server_->running()) {
        server_->signal(SIGTERM);
        server_->wait(5000);
    }
}

std::string VirtualDisplay::failure() const { return server_ ? server_->outputSoFar() : ""; }

std::optional<ProgramWindow> ProgramWindow::find(const VirtualDisplay& display, pid_t pid,
                                                 int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        const ProgramResult r =
            runProgram({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)},
                       {"DISPLAY=" + display.name()}, 10000);
        std::stringstream ids(r.output);
        std::string id;
        if (r.exitCode == 0 && std::getline(ids, id) && !id.empty())
            return ProgramWindow(display.name(), id);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (Clock::now() < deadline);
    return std::nullopt;
}

bool ProgramWindow::click(int x, int y, int count) const {
    return runProgram(
               {"xdotool", "mousemove", "--window", id_, std::to_string(x), std::to_string(y),
                "click", "--repeat", std::to_string(count), "--delay", "80", "1"},
               {"DISPLAY=" + display_}, 10000)
               .exitCode == 0;
}

}  // namespace parlune::test
