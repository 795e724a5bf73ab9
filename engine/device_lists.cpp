// The record and playback driver lists, read with a temporary system each
// time so that devices plugged in since the last look are there.
#include "engine/engine.h"

#include "platform/audiolib/audiolib.h"

#include <QDebug>

namespace parlune::engine {

namespace al = audiolib;

namespace {
// The library hands out UTF-8 names; decoding them as UTF-8 keeps the menu
// text right and gives the original bytes back when a name is written out
// (config.ini) and compared later.
QString driverName(const char* bytes) { return QString::fromUtf8(bytes); }
}  // namespace

QStringList recordDriverNames() {
    al::System system;
    al::createSystem(&system);
    int count = 0;
    int connected = 0;
    system.getRecordNumDrivers(&count, &connected);
    qDebug().noquote() << QString("record drivers: %1, connected: %2").arg(count).arg(connected);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        char name[256] = {};
        system.getRecordDriverInfo(i, name, sizeof name, nullptr, nullptr, nullptr, nullptr,
                                   nullptr);
        names << driverName(name);
    }
    system.release();
    return names;
}

QStringList playbackDriverNames() {
    al::System system;
    al::createSystem(&system);
    int count = 0;
    system.getNumDrivers(&count);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        char name[256] = {};
        system.getDriverInfo(i, name, sizeof name, nullptr, nullptr, nullptr, nullptr);
        names << driverName(name);
    }
    system.release();
    return names;
}

}  // namespace parlune::engine
