// Where the online services go, read at the moment they start: an
// environment variable when it is set (even to an empty value, which turns
// the service off), else the default this build was configured with.
//
//   PARLUNE_PING_URL     the usage ping's collection address (default empty)
//   PARLUNE_PING_TID     the tracking id sent with the ping (default empty)
//   PARLUNE_UPDATE_FEED  the version feed's address (default empty)
//   DO_NOT_TRACK         any value but empty or "0" keeps the ping at home
//
// Thread contract: free functions reading the environment; any thread.
#pragma once

#include <QString>

namespace parlune::online {

QString pingUrl();
QString pingTid();
QString updateFeed();
bool doNotTrack();

}  // namespace parlune::online
