#include "routing/route_repair.h"

#include <QCoreApplication>
#include <QDebug>

#include <memory>

#include "routing/server_watcher.h"

namespace parlune::routing {

RouteRepair::Steps RouteRepair::routingSteps() {
    Steps steps;
    steps.check = [] { return virtualDeviceHealth(); };
    steps.repair = [] {
        std::string why;
        if (repairRouting(&why)) return true;
        qDebug().noquote()
            << QStringLiteral("Routing not repaired yet: %1").arg(QString::fromStdString(why));
        return false;
    };
    return steps;
}

RouteRepair::RouteRepair(Runner run, Steps steps, QObject* parent)
    : QObject(parent), run_(std::move(run)), steps_(std::move(steps)) {
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, &RouteRepair::runStep);
}

void RouteRepair::serverChanged() {
    if (stopped_) return;
    if (inHand_) {
        again_ = true;
        return;
    }
    // A repair that waits for its retry keeps to its timer.
    if (!retry_.isActive()) runStep();
}

void RouteRepair::stop() {
    stopped_ = true;
    retry_.stop();
}

void RouteRepair::runStep() {
    if (stopped_ || inHand_) return;
    inHand_ = true;
    again_ = false;
    // The results cross to the GUI thread with the `then` part.
    auto health = std::make_shared<DeviceHealth>(DeviceHealth::Present);
    auto fixed = std::make_shared<bool>(false);
    const bool repair = lost_;
    run_(
        [steps = steps_, repair, health, fixed] {
            if (repair)
                *fixed = steps.repair();
            else
                *health = steps.check();
        },
        [this, repair, health, fixed] {
            inHand_ = false;
            if (stopped_) return;
            if (repair) {
                if (!*fixed) {
                    retry_.start(kRetryMs);
                    return;
                }
                lost_ = false;
                qDebug("The audio server is back: PARLUNE-01 is loaded and routed again");
                emit repaired();
            } else if (*health != DeviceHealth::Present) {
                lost_ = true;
                qDebug(
                    *health == DeviceHealth::ServerGone
                        ? "The audio server went away; PARLUNE-01 is loaded again once it is back"
                        : "PARLUNE-01 went away; loading it again");
                emit lost();
                retry_.start(0);  // the first repair at once
                return;
            }
            if (again_) runStep();
        });
}

void keepRoutingRepaired(QObject* parent, RouteRepair::Runner run,
                         std::function<void()> waitForSteps) {
    auto* repair = new RouteRepair(std::move(run), RouteRepair::routingSteps(), parent);
    auto* watcher = new ServerWatcher(parent);
    QObject::connect(watcher, &ServerWatcher::changed, repair, &RouteRepair::serverChanged);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, repair,
                     [repair, wait = std::move(waitForSteps)] {
                         repair->stop();
                         if (wait) wait();
                     });
}

}  // namespace parlune::routing
