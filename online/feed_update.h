// The program's update component: it fetches a small version feed over
// HTTP(S), compares the version there with the program's own, writes
// Status.ini and reports through the callback contract of
// online/update_component.h. A download is written beside its final name,
// checked against the feed's SHA-256 and only then renamed and offered for
// install; a download that fails, is cut short or does not match is removed
// and reported (event 5). Install hands the verified file to the desktop.
// Without a feed address it cannot be started.
//
// The feed is one JSON object of at most 64 KiB:
//
//   {"title": "Parlune", "version": "2.3.0.0", "releaseDate": "2027-01-15",
//    "size": 15728640, "url": "parlune-2.3.0.0.tar.gz",
//    "sha256": "<64 hex digits>"}
//
// version: numbers separated by dots, compared number by number with the
// program's own (a missing number counts as 0, so 2.3 equals 2.3.0.0);
// size: the download's length in bytes; url: http or https, absolute or
// relative to the feed's address; title (default "Parlune") and releaseDate
// (default empty) are shown as they are.
//
// Events reported: 0 with the folder, then 1 (up to date: Status.ini holds
// the program's own version) or 2 (Status.ini holds the feed's entry), or 4
// when the feed cannot be had or read; after action 2, 3 with the verified
// file's path or 5; after action 3, 6. With 4 and 5 the value is the
// reply's HTTP status (0 when no answer came) and the text the reason; every
// failure is also logged.
//
// Thread contract: GUI thread (see online/update_component.h); the network
// work runs asynchronously on the thread's event loop.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

#include "online/update_component.h"

class QFile;
class QNetworkReply;

namespace parlune::online {

// The version this program is.
inline constexpr char kProgramVersion[] = "2.2.0.0";

struct FeedEntry {
    QString title;
    QString version;
    QString releaseDate;
    qint64 size = 0;
    QUrl url;
    QByteArray sha256;  // 32 bytes
};

// The feed's entry, or nothing with the reason in *why.
std::optional<FeedEntry> parseFeed(const QByteArray& bytes, const QUrl& feedUrl, QString* why);
// Below zero, zero or above zero as a is older than, the same as or newer
// than b; nothing when either is not a dotted version.
std::optional<int> compareVersions(const QString& a, const QString& b);
// The file name a download is kept under: the last part of its address, in
// letters, digits and "._+-" only, never hidden and never one of
// Status.ini's own names (Status.ini, Status.ini.new).
QString downloadFileName(const QUrl& url);

// $XDG_CACHE_HOME/parlune, else ~/.cache/parlune; empty without either.
QString updateCacheFolder();

class FeedUpdateComponent : public QObject, public UpdateComponent {
    Q_OBJECT
public:
    struct Options {
        QString feed;    // the feed's address; empty: the check cannot start
        QString folder;  // Status.ini and downloads; made when missing
        QString installedVersion = QString::fromLatin1(kProgramVersion);
        // Opens the verified file; null: QDesktopServices::openUrl.
        std::function<bool(const QUrl&)> openUrl;
        int timeoutMs = 30000;  // a transfer silent this long is given up
    };

    explicit FeedUpdateComponent(Options options, QObject* parent = nullptr);
    ~FeedUpdateComponent() override;

    UpdateResult runUpdateCheck(Callback callback) override;
    UpdateResult request(int action) override;

private:
    UpdateResult startDownload();
    UpdateResult install();
    void feedFinished(QNetworkReply* reply);
    void downloadArrived();
    void downloadFinished();
    void failDownload(const QString& why, quint16 status);
    bool writeStatusFile(const FeedEntry& facts, QString* why);
    // Queued, so a callback never runs inside a call into the component or
    // inside a network signal.
    void report(quint16 value, quint16 event, const QString& text);
    QNetworkRequest requestFor(const QUrl& url) const;

    Options options_;
    Callback callback_;
    QNetworkAccessManager network_;
    QPointer<QNetworkReply> checking_;
    std::optional<FeedEntry> available_;
    // The download under way.
    QPointer<QNetworkReply> downloading_;
    std::unique_ptr<QFile> partFile_;
    QString target_;
    QCryptographicHash hash_{QCryptographicHash::Sha256};
    qint64 received_ = 0;
    QString abortReason_;
    // The verified file, once there is one.
    QString ready_;
};

// The program's own component: the feed from the settings, the per-user
// cache folder.
std::unique_ptr<UpdateComponent> makeUpdateComponent();

}  // namespace parlune::online
