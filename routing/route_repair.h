// Puts the routing back after the audio server lost PARLUNE-01. A server that
// restarts comes back without PARLUNE-01 and with another default playback
// device; a module unloaded by hand takes the device alone. At each change
// the watcher reports, a check looks for the virtual device; once it is
// missing (or the server does not answer), the repair loads it again and,
// while the program is routed, makes it the default again through the
// routing's own step. A repair that fails is tried again every kRetryMs until
// it succeeds. One log line when the device or the server goes, one when it
// is back and repaired.
//
// The checks and repairs block on the server, so they run through the runner
// handed in (the window's step runner: in order with the other routing
// steps, off the GUI thread), one at a time; changes that come meanwhile are
// folded into one more check.
//
// Thread contract: GUI thread: construct, the slots, the timer and the
// runner's `then` parts; the steps' `work` parts run on the runner's thread.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

#include "routing/routing.h"

namespace parlune::routing {

class RouteRepair : public QObject {
    Q_OBJECT
public:
    // As often as a lost stream is looked for (pulse::kReopenIntervalMs).
    static constexpr int kRetryMs = 250;

    // Both run on the runner's thread.
    struct Steps {
        std::function<DeviceHealth()> check;
        // True once the virtual device is back and, when routed, the default.
        std::function<bool()> repair;
    };
    // The routing's own: virtualDeviceHealth and repairRouting.
    static Steps routingSteps();

    // work on the runner's thread, then `then` on the GUI thread.
    using Runner = std::function<void(std::function<void()> work, std::function<void()> then)>;
    RouteRepair(Runner run, Steps steps, QObject* parent = nullptr);

    bool repairing() const { return lost_; }

public slots:
    // A change of the server: a check, or another repair while one is due.
    void serverChanged();
    // No step starts after this (for the end of the program); one in hand
    // ends on its own.
    void stop();

signals:
    // The device went away, or the server stopped answering.
    void lost();
    // The repair succeeded.
    void repaired();

private:
    void runStep();

    Runner run_;
    Steps steps_;
    QTimer retry_;
    bool lost_ = false;    // a repair is due
    bool inHand_ = false;  // a step runs
    bool again_ = false;   // a change came while it ran
    bool stopped_ = false;
};

// The program's watch: a ServerWatcher and a RouteRepair on the routing's
// steps, children of `parent`, connected; stopped when the application is
// about to quit, after which `waitForSteps` (the runner's wait) is called so
// no repair is left running while the tear-down gives the default back.
void keepRoutingRepaired(QObject* parent, RouteRepair::Runner run,
                         std::function<void()> waitForSteps);

}  // namespace parlune::routing
