// The audio server as the program's event loop sees it: every notice of the
// device directory (a device came, went or changed, a default moved, the
// connection was lost or made anew) becomes one changed() signal on the
// watcher's thread. Notices that come while one is on its way are folded
// into it, so a burst of them (a server coming back with its devices) is one
// signal or two, never a queue of them.
//
// Thread contract: create, use and destroy on a thread with an event loop
// (the GUI thread); changed() is emitted there. The directory's listener runs
// on the directory's threads and only posts the signal.
#pragma once

#include <QObject>

#include <atomic>
#include <memory>

namespace parlune::pulse {
class DeviceDirectory;
}

namespace parlune::routing {

class ServerWatcher : public QObject {
    Q_OBJECT
public:
    // The process's directory unless another is given.
    explicit ServerWatcher(QObject* parent = nullptr);
    ServerWatcher(std::shared_ptr<pulse::DeviceDirectory> directory, QObject* parent = nullptr);
    ~ServerWatcher() override;

signals:
    void changed();

private:
    std::shared_ptr<pulse::DeviceDirectory> directory_;
    int listener_ = -1;
    std::atomic<bool> posted_{false};
};

}  // namespace parlune::routing
