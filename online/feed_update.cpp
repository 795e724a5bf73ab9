#include "online/feed_update.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkReply>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <cstdio>

#include "online/settings.h"

namespace parlune::online {
namespace {

constexpr qint64 kMaxFeedBytes = 64 * 1024;
constexpr int kMaxTextLength = 255;  // what Status.ini's readers take
constexpr char kAbortReason[] = "parluneAbortReason";

bool isWebAddress(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

std::optional<QList<qulonglong>> versionNumbers(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    QList<qulonglong> numbers;
    for (const QString& part : parts) {
        bool ok = false;
        const qulonglong n = part.toULongLong(&ok);
        // toULongLong takes signs and spaces; a version part is digits only.
        if (!ok || part.isEmpty() || !std::all_of(part.begin(), part.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            }))
            return std::nullopt;
        numbers << n;
    }
    return numbers;
}

quint16 httpStatus(QNetworkReply* reply) {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status > 0 && status < 65536 ? static_cast<quint16>(status) : 0;
}

}  // namespace

std::optional<int> compareVersions(const QString& a, const QString& b) {
    const auto left = versionNumbers(a);
    const auto right = versionNumbers(b);
    if (!left || !right) return std::nullopt;
    for (int i = 0; i < std::max(left->size(), right->size()); ++i) {
        const qulonglong l = i < left->size() ? left->at(i) : 0;
        const qulonglong r = i < right->size() ? right->at(i) : 0;
        if (l != r) return l < r ? -1 : 1;
    }
    return 0;
}

std::optional<FeedEntry> parseFeed(const QByteArray& bytes, const QUrl& feedUrl, QString* why) {
    const auto fail = [why](const QString& reason) {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (bytes.size() > kMaxFeedBytes) return fail(QStringLiteral("the feed is larger than 64 KiB"));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return fail(QStringLiteral("the feed is not JSON: ") + error.errorString());
    if (!document.isObject()) return fail(QStringLiteral("the feed is not a JSON object"));
    const QJsonObject object = document.object();

    const auto text = [&object](const char* key, std::optional<QString> fallback,
                                QString* out) -> bool {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() && fallback) {
            *out = *fallback;
            return true;
        }
        if (!value.isString()) return false;
        *out = value.toString();
        return out->size() <= kMaxTextLength;
    };
    FeedEntry entry;
    if (!text("title", QStringLiteral("Parlune"), &entry.title))
        return fail(QStringLiteral("the feed's title is not a text of up to 255 characters"));
    if (!text("releaseDate", QString(), &entry.releaseDate))
        return fail(QStringLiteral("the feed's releaseDate is not a text of up to 255 characters"));
    if (!text("version", std::nullopt, &entry.version) || !versionNumbers(entry.version))
        return fail(QStringLiteral("the feed's version is not a dotted version"));

    const QJsonValue size = object.value(QLatin1String("size"));
    // JSON numbers are doubles: whole and within 2^53 to be exact.
    const double bytesDouble = size.toDouble(-1);
    if (!size.isDouble() || bytesDouble < 0 || bytesDouble > 9007199254740992.0 ||
        bytesDouble != static_cast<double>(static_cast<qint64>(bytesDouble)))
        return fail(QStringLiteral("the feed's size is not a whole number of bytes"));
    entry.size = static_cast<qint64>(bytesDouble);

    QString address;
    if (!text("url", std::nullopt, &address) || address.isEmpty())
        return fail(QStringLiteral("the feed has no url"));
    entry.url = feedUrl.resolved(QUrl(address, QUrl::StrictMode));
    if (!isWebAddress(entry.url))
        return fail(QStringLiteral("the feed's url is not an http(s) address"));

    QString sha;
    if (!text("sha256", std::nullopt, &sha) || sha.size() != 64 ||
        !std::all_of(sha.begin(), sha.end(), [](QChar c) {
            return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                   (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
        }))
        return fail(QStringLiteral("the feed's sha256 is not 64 hex digits"));
    entry.sha256 = QByteArray::fromHex(sha.toLatin1());
    return entry;
}

QString downloadFileName(const QUrl& url) {
    QString name = url.fileName(QUrl::FullyDecoded);
    for (QChar& c : name) {
        const bool kept = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                          QStringLiteral("._+-").contains(c);
        if (!kept) c = QLatin1Char('_');
    }
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) ||
        name.startsWith(QLatin1String("Status.ini"), Qt::CaseInsensitive))
        name.prepend(QStringLiteral("parlune-update"));
    return name;
}

QString updateCacheFolder() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : cache + QStringLiteral("/parlune");
}

// --- The component ---------------------------------------------------------

FeedUpdateComponent::FeedUpdateComponent(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    // Never from https down to http.
    network_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    if (!options_.openUrl)
        options_.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

FeedUpdateComponent::~FeedUpdateComponent() {
    // No reply may call back into a half-destroyed component, and a download
    // cut off by the end of the program is not kept.
    for (QNetworkReply* reply : {checking_.data(), downloading_.data()}) {
        if (!reply) continue;
        reply->disconnect(this);
        reply->abort();
    }
    if (partFile_) partFile_->remove();
}

QNetworkRequest FeedUpdateComponent::requestFor(const QUrl& url) const {
    QNetworkRequest request(url);
    request.setTransferTimeout(options_.timeoutMs);
    return request;
}

void FeedUpdateComponent::report(quint16 value, quint16 event, const QString& text) {
    QMetaObject::invokeMethod(
        this,
        [this, value, event, text] {
            if (callback_) callback_(value, event, text);
        },
        Qt::QueuedConnection);
}

UpdateResult FeedUpdateComponent::runUpdateCheck(Callback callback) {
    const QUrl feed(options_.feed, QUrl::StrictMode);
    if (options_.feed.isEmpty())
        return {1, QStringLiteral("no version feed configured (PARLUNE_UPDATE_FEED)")};
    if (!isWebAddress(feed))
        return {1, QStringLiteral("the version feed is not an http(s) address: ") + options_.feed};
    if (options_.folder.isEmpty() || !QDir().mkpath(options_.folder))
        return {2, QStringLiteral("no folder for the status file: ") + options_.folder};
    if (checking_ || downloading_) return {3, QStringLiteral("the update component is busy")};

    callback_ = std::move(callback);
    available_.reset();
    QNetworkReply* reply = network_.get(requestFor(feed));
    checking_ = reply;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received <= kMaxFeedBytes) return;
        reply->setProperty(kAbortReason, QStringLiteral("the feed is larger than 64 KiB"));
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { feedFinished(reply); });
    return {0, QStringLiteral("checking ") + feed.toString()};
}

void FeedUpdateComponent::feedFinished(QNetworkReply* reply) {
    reply->deleteLater();
    checking_.clear();
    const auto fail = [&](const QString& why) {
        qDebug().noquote() << QStringLiteral("Update check failed: ") + why;
        report(httpStatus(reply), update_event::kCheckFailed, why);
    };
    const QString aborted = reply->property(kAbortReason).toString();
    if (!aborted.isEmpty()) return fail(aborted);
    if (reply->error() != QNetworkReply::NoError)
        return fail(QStringLiteral("the feed could not be had: ") + reply->errorString());
    QString why;
    const std::optional<FeedEntry> entry = parseFeed(reply->readAll(), reply->url(), &why);
    if (!entry) return fail(why);
    const std::optional<int> order = compareVersions(entry->version, options_.installedVersion);
    if (!order) return fail(QStringLiteral("the program's version is not a dotted version"));

    FeedEntry facts = *entry;
    if (*order <= 0) {
        // What is installed is current: the dialog names it, not the feed.
        facts.version = options_.installedVersion;
        facts.releaseDate.clear();
        facts.size = 0;
    }
    if (!writeStatusFile(facts, &why)) return fail(why);
    report(0, update_event::kStatusFolder, options_.folder);
    if (*order > 0) {
        available_ = entry;
        report(0, update_event::kAvailable, entry->version);
    } else {
        report(0, update_event::kUpToDate, options_.installedVersion);
    }
}

bool FeedUpdateComponent::writeStatusFile(const FeedEntry& facts, QString* why) {
    const QString path = QDir(options_.folder).filePath(QStringLiteral("Status.ini"));
    const QString beside = path + QStringLiteral(".new");
    QFile::remove(beside);
    {
        QSettings file(beside, QSettings::IniFormat);
        file.beginGroup(QStringLiteral("Update"));
        file.setValue(QStringLiteral("Title"), facts.title);
        file.setValue(QStringLiteral("Version"), facts.version);
        file.setValue(QStringLiteral("ReleaseDate"), facts.releaseDate);
        file.setValue(QStringLiteral("DownloadSize"), facts.size);
        file.endGroup();
        file.sync();
        if (file.status() != QSettings::NoError) {
            *why = QStringLiteral("Status.ini could not be written in ") + options_.folder;
            QFile::remove(beside);
            return false;
        }
    }
    // rename() replaces the old file in one step, so a reader sees either.
    if (std::rename(QFile::encodeName(beside).constData(), QFile::encodeName(path).constData())) {
        *why = QStringLiteral("Status.ini could not be replaced in ") + options_.folder;
        QFile::remove(beside);
        return false;
    }
    return true;
}

UpdateResult FeedUpdateComponent::request(int action) {
    switch (action) {
        case update_action::kDownload:
            return startDownload();
        case update_action::kInstall:
            return install();
        default:
            return {4, QStringLiteral("unknown action %1").arg(action)};
    }
}

UpdateResult FeedUpdateComponent::startDownload() {
    if (!available_) return {1, QStringLiteral("no newer version to download")};
    if (downloading_ || checking_) return {3, QStringLiteral("the update component is busy")};
    target_ = QDir(options_.folder).filePath(downloadFileName(available_->url));
    partFile_ = std::make_unique<QFile>(target_ + QStringLiteral(".part"));
    if (!partFile_->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const QString why = partFile_->fileName() + QStringLiteral(": ") + partFile_->errorString();
        partFile_.reset();
        return {2, why};
    }
    hash_.reset();
    received_ = 0;
    abortReason_.clear();
    ready_.clear();
    QNetworkReply* reply = network_.get(requestFor(available_->url));
    downloading_ = reply;
    connect(reply, &QNetworkReply::readyRead, this, &FeedUpdateComponent::downloadArrived);
    connect(reply, &QNetworkReply::finished, this, &FeedUpdateComponent::downloadFinished);
    return {0, QStringLiteral("downloading ") + available_->url.toString()};
}

void FeedUpdateComponent::downloadArrived() {
    if (!downloading_ || !partFile_ || !abortReason_.isEmpty()) return;
    const QByteArray bytes = downloading_->readAll();
    received_ += bytes.size();
    if (received_ > available_->size) {
        abortReason_ =
            QStringLiteral("the download is larger than the feed's %1 bytes").arg(available_->size);
    } else if (partFile_->write(bytes) != bytes.size()) {
        abortReason_ = partFile_->fileName() + QStringLiteral(": ") + partFile_->errorString();
    } else {
        hash_.addData(bytes);
        return;
    }
    downloading_->abort();  // finished() follows, and with it the report
}

void FeedUpdateComponent::failDownload(const QString& why, quint16 status) {
    qDebug().noquote() << QStringLiteral("Update download failed: ") + why;
    if (partFile_) {
        partFile_->remove();
        partFile_.reset();
    }
    report(status, update_event::kDownloadFailed, why);
}

void FeedUpdateComponent::downloadFinished() {
    QNetworkReply* reply = downloading_;
    if (!reply) return;
    reply->deleteLater();
    if (reply->isOpen()) downloadArrived();  // whatever came with the end
    downloading_.clear();
    const quint16 status = httpStatus(reply);
    if (!abortReason_.isEmpty()) return failDownload(abortReason_, status);
    if (reply->error() != QNetworkReply::NoError)
        return failDownload(
            QStringLiteral("the download could not be had: ") + reply->errorString(), status);
    if (!partFile_->flush()) return failDownload(partFile_->errorString(), status);
    partFile_->close();
    if (received_ != available_->size)
        return failDownload(QStringLiteral("the download was cut short: %1 of %2 bytes")
                                .arg(received_)
                                .arg(available_->size),
                            status);
    if (hash_.result() != available_->sha256)
        return failDownload(QStringLiteral("the download does not match the feed's SHA-256"),
                            status);
    if (std::rename(QFile::encodeName(partFile_->fileName()).constData(),
                    QFile::encodeName(target_).constData()))
        return failDownload(QStringLiteral("the download could not be renamed to ") + target_,
                            status);
    partFile_.reset();
    ready_ = target_;
    report(0, update_event::kReadyToInstall, ready_);
}

UpdateResult FeedUpdateComponent::install() {
    if (ready_.isEmpty() || !QFileInfo(ready_).isFile())
        return {1, QStringLiteral("nothing is ready to install")};
    if (!options_.openUrl(QUrl::fromLocalFile(ready_)))
        return {2, QStringLiteral("the desktop could not open ") + ready_};
    report(0, update_event::kInstallerOpened, ready_);
    return {0, QStringLiteral("handed ") + ready_ + QStringLiteral(" to the desktop")};
}

std::unique_ptr<UpdateComponent> makeUpdateComponent() {
    FeedUpdateComponent::Options options;
    options.feed = updateFeed();
    options.folder = updateCacheFolder();
    return std::make_unique<FeedUpdateComponent>(std::move(options));
}

}  // namespace parlune::online
