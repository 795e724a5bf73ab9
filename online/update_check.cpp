#include "online/update_check.h"

#include <QDebug>
#include <QDir>
#include <QSettings>
#include <QStringList>

#include <exception>
#include <sstream>

namespace parlune::online {
namespace {

// What the profile-file reader hands back at most.
constexpr int kMaxTextLength = 255;

}  // namespace

UpdateCheck::UpdateCheck(std::unique_ptr<UpdateComponent> component)
    : component_(std::move(component)) {}

UpdateCheck::~UpdateCheck() = default;

void UpdateCheck::keep(const UpdateResult& result) {
    lastCode_ = result.code;
    lastText_ = result.text;
}

bool UpdateCheck::start(Handler handler) {
    handler_ = std::move(handler);
    if (!component_) {
        keep({-1, QStringLiteral("no update component")});
        return false;
    }
    try {
        keep(component_->runUpdateCheck([this](quint16 value, quint16 event, const QString& text) {
            onEvent(value, event, text);
        }));
    } catch (const std::exception& e) {
        keep({-1, QString::fromLocal8Bit(e.what())});
    } catch (...) {
        keep({-1, QStringLiteral("the update component failed")});
    }
    return lastCode_ == 0;
}

void UpdateCheck::request(int action) {
    if (!component_) {
        keep({-1, QStringLiteral("no update component")});
        return;
    }
    try {
        keep(component_->request(action));
    } catch (const std::exception& e) {
        keep({-1, QString::fromLocal8Bit(e.what())});
    } catch (...) {
        keep({-1, QStringLiteral("the update component failed")});
    }
    if (lastCode_ != 0)
        qDebug().noquote()
            << QStringLiteral("Update request %1 refused: %2").arg(action).arg(lastText_);
}

void UpdateCheck::onEvent(quint16 value, quint16 event, const QString& text) {
    if (event == update_event::kStatusFolder)
        statusFile_ = QDir(text).filePath(QStringLiteral("Status.ini"));
    if (handler_) handler_(value, event, text);
}

QString UpdateCheck::readText(const char* key) const {
    if (statusFile_.isEmpty()) return QString();
    QSettings file(statusFile_, QSettings::IniFormat);
    const QVariant value = file.value(QStringLiteral("Update/") + QLatin1String(key));
    // The INI reader splits an unquoted value at its commas; the profile
    // format does not.
    const QString text = value.type() == QVariant::StringList
                             ? value.toStringList().join(QStringLiteral(", "))
                             : value.toString();
    return text.left(kMaxTextLength);
}

QString UpdateCheck::title() const { return readText("Title"); }
QString UpdateCheck::version() const { return readText("Version"); }
QString UpdateCheck::releaseDate() const { return readText("ReleaseDate"); }

qint64 UpdateCheck::downloadSize() const {
    bool ok = false;
    const qint64 size = readText("DownloadSize").trimmed().toLongLong(&ok);
    return ok ? size : 0;
}

QString downloadSizeText(qint64 bytes) {
    std::ostringstream out;
    out << static_cast<double>(bytes) / 1048576.0;
    return QString::fromStdString(out.str());
}

void handleUpdateEvent(quint16 event, UpdateCheck& check, const UpdatePrompts& prompts) {
    const QString confirmation = QStringLiteral("Confirmation");
    switch (event) {
        case update_event::kUpToDate:
            prompts.information(QStringLiteral("Information"),
                                check.title() + QStringLiteral(" V ") + check.version() +
                                    QStringLiteral(" is up to date."));
            break;
        case update_event::kAvailable:
            if (prompts.question(confirmation,
                                 check.title() + QStringLiteral(" V ") + check.version() +
                                     QStringLiteral(" is available for download (Size: ") +
                                     downloadSizeText(check.downloadSize()) +
                                     QStringLiteral(" MB, Release Date: ") + check.releaseDate() +
                                     QStringLiteral("). Do you want to download now?")))
                check.request(update_action::kDownload);
            break;
        case update_event::kReadyToInstall:
            if (prompts.question(confirmation,
                                 check.title() + QStringLiteral(" V ") + check.version() +
                                     QStringLiteral(" is ready to install. Please close the old "
                                                    "program before installation."))) {
                prompts.quit();
                check.request(update_action::kInstall);
            }
            break;
        case update_event::kInstallerOpened:
            prompts.quit();
            break;
        default:
            break;
    }
}

}  // namespace parlune::online
