// The usage ping: one page view per program start, posted to the analytics
// collection endpoint as form fields, without waiting and without any effect
// on the program. Nothing is sent unless both the collection address and the
// tracking id are configured (online/settings.h), nor when DO_NOT_TRACK is
// set; one log line then says why.
//
// Thread contract: GUI thread (the network manager's thread). The request
// runs asynchronously; nothing here blocks.
#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <QUuid>

class QNetworkAccessManager;
class QNetworkReply;

namespace parlune::online {

// The form fields v, tid, cid, t, dh, dp, dt in that order, joined as a
// query string in its lenient form: "&", "=", "#", "%", "+", spaces and
// control characters are percent-encoded inside a value, everything else
// (braces, hyphens, ">", non-ASCII letters) goes as it is; UTF-8.
// dh is hostName + "." + domainName, a trailing "." when the domain is empty.
QByteArray pingBody(const QString& tid, const QUuid& cid, const QString& hostName,
                    const QString& domainName);
// A POST to url with the form content type.
QNetworkRequest pingRequest(const QUrl& url);

// Whether the ping goes out, and where to.
struct PingTarget {
    QUrl url;
    QString tid;
    QString notSentBecause;  // empty when the ping goes out
};
// From the settings as they are now.
PingTarget pingTarget();

// Posts the ping through manager with a new cid and this computer's names,
// or logs the one line that says why not. True when a request went out; the
// reply belongs to the manager and reaches its finished() signal.
bool postUsagePing(QNetworkAccessManager& manager);
// For the manager's finished() signal: logs "Finished, error: <code>" when
// the reply failed, then lets the reply go.
void logPingReply(QNetworkReply* reply);

}  // namespace parlune::online
