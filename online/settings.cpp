#include "online/settings.h"

#include <QtGlobal>

#include "online/build_defaults.h"

namespace parlune::online {
namespace {

QString setting(const char* name, const char* buildDefault) {
    if (qEnvironmentVariableIsSet(name)) return qEnvironmentVariable(name).trimmed();
    return QString::fromUtf8(buildDefault).trimmed();
}

}  // namespace

QString pingUrl() { return setting("PARLUNE_PING_URL", PARLUNE_PING_URL_DEFAULT); }
QString pingTid() { return setting("PARLUNE_PING_TID", PARLUNE_PING_TID_DEFAULT); }
QString updateFeed() { return setting("PARLUNE_UPDATE_FEED", PARLUNE_UPDATE_FEED_DEFAULT); }

bool doNotTrack() {
    const QString value = qEnvironmentVariable("DO_NOT_TRACK").trimmed();
    return !value.isEmpty() && value != QLatin1String("0");
}

}  // namespace parlune::online
