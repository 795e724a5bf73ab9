#include "online/usage_ping.h"

#include <QDebug>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "online/settings.h"

namespace parlune::online {
namespace {

// Nobody waits for the answer; a server that never answers must not keep a
// connection open for the rest of the run.
constexpr int kPingTimeoutMs = 30000;

void appendValue(QByteArray& out, const QString& value) {
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : value.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        const bool breaksTheQuery = c == '&' || c == '=' || c == '#' || c == '%' || c == '+' ||
                                    byte <= 0x20 || byte == 0x7f;
        if (breaksTheQuery) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        } else {
            out += c;
        }
    }
}

}  // namespace

QByteArray pingBody(const QString& tid, const QUuid& cid, const QString& hostName,
                    const QString& domainName) {
    const std::pair<const char*, QString> fields[] = {
        {"v", QStringLiteral("1")},
        {"tid", tid},
        {"cid", cid.toString()},
        {"t", QStringLiteral("pageview")},
        {"dh", hostName + QLatin1Char('.') + domainName},
        {"dp", QStringLiteral("ui->pageViewPageLineEdit->text()")},
        {"dt", QStringLiteral("ui->pageViewTitleLineEdit->text()")},
    };
    QByteArray body;
    for (const auto& [key, value] : fields) {
        if (!body.isEmpty()) body += '&';
        body += key;
        body += '=';
        appendValue(body, value);
    }
    return body;
}

QNetworkRequest pingRequest(const QUrl& url) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(kPingTimeoutMs);
    return request;
}

PingTarget pingTarget() {
    PingTarget target;
    if (doNotTrack()) {
        target.notSentBecause = QStringLiteral("DO_NOT_TRACK is set");
        return target;
    }
    target.tid = pingTid();
    if (target.tid.isEmpty()) {
        target.notSentBecause = QStringLiteral("no tracking id configured (PARLUNE_PING_TID)");
        return target;
    }
    const QString address = pingUrl();
    if (address.isEmpty()) {
        target.notSentBecause =
            QStringLiteral("no collection address configured (PARLUNE_PING_URL)");
        return target;
    }
    target.url = QUrl(address, QUrl::StrictMode);
    const QString scheme = target.url.scheme();
    if (!target.url.isValid() || target.url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        target.notSentBecause =
            QStringLiteral("the collection address is not an http(s) address: ") + address;
        target.url = QUrl();
    }
    return target;
}

bool postUsagePing(QNetworkAccessManager& manager) {
    const PingTarget target = pingTarget();
    if (!target.notSentBecause.isEmpty()) {
        qDebug().noquote() << QStringLiteral("Usage ping not sent: ") + target.notSentBecause;
        return false;
    }
    manager.post(pingRequest(target.url),
                 pingBody(target.tid, QUuid::createUuid(), QHostInfo::localHostName(),
                          QHostInfo::localDomainName()));
    return true;
}

void logPingReply(QNetworkReply* reply) {
    if (!reply) return;
    if (reply->error() != QNetworkReply::NoError)
        qDebug().noquote() << "Finished, error:" << static_cast<int>(reply->error());
    reply->deleteLater();
}

}  // namespace parlune::online
