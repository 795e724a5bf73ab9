#include "app/desktop_shortcuts.h"

#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QStringList>

#include <utility>

namespace parlune::app {
namespace {

const char* const kInsteadHint =
    "bind keys to parlunectl commands instead (parlunectl --help shows how)";

// The portal's Request answers: 0 done, 1 cancelled by the user, 2 other.
constexpr uint kResponseDone = 0;
constexpr uint kResponseCancelled = 1;

QString pathOf(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QList<PortalShortcut> shortcutsOf(const QVariantMap& results) {
    const QVariant value = results.value(QStringLiteral("shortcuts"));
    if (value.userType() == qMetaTypeId<QDBusArgument>())
        return qdbus_cast<QList<PortalShortcut>>(value.value<QDBusArgument>());
    return value.value<QList<PortalShortcut>>();
}

QVariantMap mapOf(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.options;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.options;
    argument.endStructure();
    return argument;
}

void registerPortalTypes() {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

DesktopShortcuts::DesktopShortcuts(QDBusConnection connection, QList<Hotkey> hotkeys,
                                   QObject* parent)
    : QObject(parent), connection_(std::move(connection)), hotkeys_(std::move(hotkeys)) {
    registerPortalTypes();
}

void DesktopShortcuts::start() {
    // The interface's version property answers only where the portal has
    // the interface; an absent portal answers with an error of the bus.
    QDBusMessage probe = QDBusMessage::createMethodCall(
        QLatin1String(portal::kService), QLatin1String(portal::kPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    probe << QString::fromLatin1(portal::kShortcuts) << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(probe), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError()) {
            finish(State::Absent,
                   QStringLiteral("Hotkeys: the desktop offers no global shortcuts (%1); %2")
                       .arg(reply.error().name(), QLatin1String(kInsteadHint)));
            return;
        }
        registerAppId();
    });
}

void DesktopShortcuts::registerAppId() {
    // A program outside a sandbox tells the portal its id first, so the
    // desktop files the shortcuts under it. Older portals lack the registry:
    // whatever the answer, the session comes next.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(portal::kService), QLatin1String(portal::kPath),
        QLatin1String(portal::kRegistry), QStringLiteral("Register"));
    call << QString::fromLatin1(portal::kAppId) << QVariantMap();
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        createSession();
    });
}

void DesktopShortcuts::createSession() {
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), nextToken());
    request(QLatin1String(portal::kShortcuts), QStringLiteral("CreateSession"), {}, options,
            [this](uint response, const QVariantMap& results) {
                session_ = pathOf(results.value(QStringLiteral("session_handle")));
                if (response != kResponseDone || session_.isEmpty()) {
                    session_.clear();
                    finish(State::Failed,
                           QStringLiteral("Hotkeys: the desktop made no shortcuts session "
                                          "(answer %1); %2")
                               .arg(response)
                               .arg(QLatin1String(kInsteadHint)));
                    return;
                }
                connection_.connect(
                    QLatin1String(portal::kService), QLatin1String(portal::kPath),
                    QLatin1String(portal::kShortcuts), QStringLiteral("Activated"), this,
                    SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
                listShortcuts();
            });
}

void DesktopShortcuts::listShortcuts() {
    request(
        QLatin1String(portal::kShortcuts), QStringLiteral("ListShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session_))}, {},
        [this](uint response, const QVariantMap& results) {
            QStringList listed;
            for (const PortalShortcut& shortcut : shortcutsOf(results)) listed << shortcut.id;
            bool all = response == kResponseDone;
            for (const Hotkey& hotkey : hotkeys_) all = all && listed.contains(hotkey.id);
            if (all)
                bound(results);
            else
                bindShortcuts();
        },
        // A portal that cannot list them can still bind them.
        [this] { bindShortcuts(); });
}

void DesktopShortcuts::bindShortcuts() {
    QList<PortalShortcut> shortcuts;
    for (const Hotkey& hotkey : hotkeys_) {
        QVariantMap options;
        options.insert(QStringLiteral("description"), hotkey.description);
        if (!hotkey.preferredTrigger.isEmpty())
            options.insert(QStringLiteral("preferred_trigger"), hotkey.preferredTrigger);
        shortcuts << PortalShortcut{hotkey.id, options};
    }
    request(
        QLatin1String(portal::kShortcuts), QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()},
        {}, [this](uint response, const QVariantMap& results) {
            if (response == kResponseDone) {
                bound(results);
                return;
            }
            finish(State::Failed,
                   QStringLiteral("Hotkeys: the desktop did not bind them (%1); %2")
                       .arg(response == kResponseCancelled ? QStringLiteral("cancelled")
                                                           : QStringLiteral("refused"),
                            QLatin1String(kInsteadHint)));
        });
}

void DesktopShortcuts::bound(const QVariantMap& results) {
    for (const PortalShortcut& shortcut : shortcutsOf(results))
        triggers_.insert(shortcut.id,
                         shortcut.options.value(QStringLiteral("trigger_description")).toString());
    QStringList described;
    for (const Hotkey& hotkey : hotkeys_) {
        const QString trigger = triggers_.value(hotkey.id);
        described << QStringLiteral("%1 (%2)").arg(
            hotkey.id, trigger.isEmpty() ? QStringLiteral("no key yet") : trigger);
    }
    finish(State::Bound, QStringLiteral("Hotkeys bound through the desktop: ") +
                             described.join(QLatin1String(", ")));
}

void DesktopShortcuts::request(const QString& interface, const QString& method,
                               QList<QVariant> arguments, QVariantMap options, Answer answer,
                               std::function<void()> failed) {
    // The answer comes as a signal on the request's object path: listened
    // for before the call, so it cannot come first and be missed.
    const QString token = nextToken();
    const QString path = requestPath(token);
    options.insert(QStringLiteral("handle_token"), token);
    pending_.insert(path, std::move(answer));
    connection_.connect(QLatin1String(portal::kService), path, QLatin1String(portal::kRequest),
                        QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(portal::kService), QLatin1String(portal::kPath), interface, method);
    arguments << options;
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, path, method, failed](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *w;
                if (reply.isError()) {
                    forget(path);
                    if (failed) {
                        failed();
                        return;
                    }
                    finish(State::Failed,
                           QStringLiteral("Hotkeys: the desktop's %1 failed (%2); %3")
                               .arg(method, reply.error().message(), QLatin1String(kInsteadHint)));
                    return;
                }
                // Portals before version 0.9 chose the path themselves.
                const QString handle = reply.value().path();
                if (handle != path && pending_.contains(path)) {
                    Answer moved = pending_.value(path);
                    forget(path);
                    pending_.insert(handle, moved);
                    connection_.connect(QLatin1String(portal::kService), handle,
                                        QLatin1String(portal::kRequest), QStringLiteral("Response"),
                                        this, SLOT(onResponse(QDBusMessage)));
                }
            });
}

void DesktopShortcuts::forget(const QString& path) {
    pending_.remove(path);
    connection_.disconnect(QLatin1String(portal::kService), path, QLatin1String(portal::kRequest),
                           QStringLiteral("Response"), this, SLOT(onResponse(QDBusMessage)));
}

void DesktopShortcuts::onResponse(const QDBusMessage& message) {
    const QString path = message.path();
    if (!pending_.contains(path)) return;
    const Answer answer = pending_.value(path);
    forget(path);
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2) {
        answer(2, {});
        return;
    }
    answer(arguments[0].toUInt(), mapOf(arguments[1]));
}

void DesktopShortcuts::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                   const QVariantMap&) {
    if (session_.isEmpty() || session.path() != session_) return;
    for (const Hotkey& hotkey : hotkeys_) {
        if (hotkey.id != id) continue;
        qDebug().noquote() << QStringLiteral("Hotkey ") + id;
        if (hotkey.activate) hotkey.activate();
        return;
    }
}

void DesktopShortcuts::finish(State state, const QString& logLine) {
    if (state_ != State::Starting) return;
    state_ = state;
    qDebug().noquote() << logLine;
    emit stateChanged(state);
}

QString DesktopShortcuts::nextToken() { return QStringLiteral("parlune%1").arg(++tokens_); }

QString DesktopShortcuts::requestPath(const QString& token) const {
    // The caller's unique name without its colon, dots as underscores.
    QString sender = connection_.baseService();
    if (sender.startsWith(QLatin1Char(':'))) sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

}  // namespace parlune::app
