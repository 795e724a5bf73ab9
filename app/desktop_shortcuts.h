// Global hotkeys through the desktop portal's GlobalShortcuts interface
// (org.freedesktop.portal.GlobalShortcuts on org.freedesktop.portal.Desktop),
// where the desktop offers it: the program's id registered with the host
// registry, a session, the hotkeys bound (unless the desktop lists them bound
// already, so no dialog comes at every start), and each Activated signal of
// the session turned into its hotkey's action. When the portal or its
// interface is absent, or the desktop refuses, one log line says to bind keys
// to parlunectl instead.
//
// Thread contract: GUI thread only. Every call to the portal is asynchronous,
// so nothing waits on the desktop.
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace parlune::app {

// One element of the portal's a(sa{sv}) shortcut lists: the id and its
// options (description, preferred_trigger; trigger_description in answers).
struct PortalShortcut {
    QString id;
    QVariantMap options;
};
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);
// Makes the two types known to QtDBus; safe to call more than once.
void registerPortalTypes();

namespace portal {
inline constexpr char kService[] = "org.freedesktop.portal.Desktop";
inline constexpr char kPath[] = "/org/freedesktop/portal/desktop";
inline constexpr char kShortcuts[] = "org.freedesktop.portal.GlobalShortcuts";
inline constexpr char kRequest[] = "org.freedesktop.portal.Request";
inline constexpr char kRegistry[] = "org.freedesktop.host.portal.Registry";
inline constexpr char kAppId[] = "io.github.parlune.Parlune";
}  // namespace portal

struct Hotkey {
    QString id;
    QString description;
    QString preferredTrigger;  // in the XDG shortcuts format, "CTRL+ALT+B"
    std::function<void()> activate;
};

class DesktopShortcuts : public QObject {
    Q_OBJECT
public:
    enum class State { Starting, Absent, Bound, Failed };

    DesktopShortcuts(QDBusConnection connection, QList<Hotkey> hotkeys, QObject* parent = nullptr);
    // Starts the conversation with the portal; the answers come later.
    void start();
    State state() const { return state_; }
    // The session's object path once it is made; empty before.
    QString sessionHandle() const { return session_; }
    // Each hotkey's trigger as the desktop describes it, once bound.
    QHash<QString, QString> triggers() const { return triggers_; }

signals:
    void stateChanged(parlune::app::DesktopShortcuts::State state);

private slots:
    void onResponse(const QDBusMessage& message);
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);

private:
    using Answer = std::function<void(uint response, const QVariantMap& results)>;
    // Calls a portal method that answers through a Request object: the
    // answer goes to `answer`. A call the portal refuses runs `failed`, or
    // without it ends the start as failed.
    void request(const QString& interface, const QString& method, QList<QVariant> arguments,
                 QVariantMap options, Answer answer, std::function<void()> failed = {});
    void forget(const QString& requestPath);
    void registerAppId();
    void createSession();
    void listShortcuts();
    void bindShortcuts();
    void bound(const QVariantMap& results);
    void finish(State state, const QString& logLine);
    QString nextToken();
    QString requestPath(const QString& token) const;

    QDBusConnection connection_;
    QList<Hotkey> hotkeys_;
    State state_ = State::Starting;
    QString session_;
    QHash<QString, Answer> pending_;  // request path -> its answer
    QHash<QString, QString> triggers_;
    int tokens_ = 0;
};

}  // namespace parlune::app

Q_DECLARE_METATYPE(parlune::app::PortalShortcut)
Q_DECLARE_METATYPE(QList<parlune::app::PortalShortcut>)
