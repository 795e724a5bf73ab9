#include "routing/server_watcher.h"

#include <QMetaObject>

#include "platform/pulse/device_directory.h"

namespace parlune::routing {

ServerWatcher::ServerWatcher(QObject* parent)
    : ServerWatcher(pulse::DeviceDirectory::shared(), parent) {}

ServerWatcher::ServerWatcher(std::shared_ptr<pulse::DeviceDirectory> directory, QObject* parent)
    : QObject(parent), directory_(std::move(directory)) {
    listener_ = directory_->addListener([this] {
        if (posted_.exchange(true)) return;
        // Cleared before the signal, so a notice during its handling posts
        // the next one.
        QMetaObject::invokeMethod(
            this,
            [this] {
                posted_ = false;
                emit changed();
            },
            Qt::QueuedConnection);
    });
}

// Once the listener is removed it no longer runs; a signal still posted is
// dropped with the object.
ServerWatcher::~ServerWatcher() { directory_->removeListener(listener_); }

}  // namespace parlune::routing
