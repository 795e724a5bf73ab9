// The desktop's global shortcuts against a fake portal on a private bus: the
// calls the program makes, the hotkeys acting on the window through its entry
// points, and the one log line when there is no portal or it refuses.
#include <QDBusVirtualObject>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "app/desktop_shortcuts.h"
#include "tests/app/remote_fixture.h"

namespace parlune::app {
namespace {

// The few calls of org.freedesktop.portal.Desktop the program uses, each
// noted with its arguments; the answers come as a portal sends them, the
// method's reply and then the Request's Response signal.
class FakePortal : public QDBusVirtualObject {
public:
    struct Setup {
        bool shortcuts = true;   // the GlobalShortcuts interface is there
        bool registry = true;    // the host registry is there
        uint sessionAnswer = 0;  // CreateSession's response code
        bool listFails = false;  // ListShortcuts answers with an error
        QStringList kept;        // ids ListShortcuts reports bound already
        uint bindAnswer = 0;     // BindShortcuts's response code
    };
    struct Call {
        QString member;
        QList<QVariant> arguments;
    };

    FakePortal(QDBusConnection connection, Setup setup)
        : connection_(std::move(connection)), setup_(std::move(setup)) {}

    QString introspect(const QString&) const override { return QString(); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        calls.push_back(Call{message.member(), message.arguments()});
        const QString member = message.member();
        const QList<QVariant> args = message.arguments();
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
            if (setup_.shortcuts && args.value(0).toString() == QLatin1String(portal::kShortcuts))
                reply(message.createReply(QVariant::fromValue(QDBusVariant(uint(1)))));
            else
                reply(message.createErrorReply(
                    QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                    QStringLiteral("No such interface")));
            return true;
        }
        if (message.interface() == QLatin1String(portal::kRegistry)) {
            if (setup_.registry)
                reply(message.createReply());
            else
                reply(message.createErrorReply(
                    QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                    QStringLiteral("No registry")));
            return true;
        }
        if (message.interface() != QLatin1String(portal::kShortcuts) || !setup_.shortcuts)
            return false;
        const QVariantMap options = qdbus_cast<QVariantMap>(args.last());
        const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                    .arg(sender(message), options.value("handle_token").toString());
        if (member == QLatin1String("CreateSession")) {
            session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                          .arg(sender(message), options.value("session_handle_token").toString());
            respond(message, request, setup_.sessionAnswer, {{"session_handle", session}});
        } else if (member == QLatin1String("ListShortcuts")) {
            if (setup_.listFails) {
                reply(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                               QStringLiteral("cannot list")));
                return true;
            }
            QList<PortalShortcut> kept;
            for (const QString& id : setup_.kept)
                kept << PortalShortcut{
                    id, {{"description", "kept"}, {"trigger_description", "Kept+" + id}}};
            respond(message, request, 0, {{"shortcuts", QVariant::fromValue(kept)}});
        } else if (member == QLatin1String("BindShortcuts")) {
            bound = qdbus_cast<QList<PortalShortcut>>(args.value(1));
            QList<PortalShortcut> answer;
            for (const PortalShortcut& s : bound)
                answer << PortalShortcut{
                    s.id,
                    {{"description", s.options.value("description")},
                     {"trigger_description", s.options.value("preferred_trigger")
                                                 .toString()
                                                 .replace("CTRL", "Ctrl")
                                                 .replace("ALT", "Alt")}}};
            respond(message, request, setup_.bindAnswer,
                    {{"shortcuts", QVariant::fromValue(answer)}});
        } else {
            return false;
        }
        return true;
    }

    // The desktop saw a hotkey pressed.
    void activate(const QString& inSession, const QString& id) {
        QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(portal::kPath),
                                                         QLatin1String(portal::kShortcuts),
                                                         QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(inSession)) << id << qulonglong(1234)
               << QVariantMap();
        connection_.send(signal);
    }

    QStringList members() const {
        QStringList names;
        for (const Call& c : calls) names << c.member;
        return names;
    }

    std::vector<Call> calls;
    QString session;
    QList<PortalShortcut> bound;

private:
    static QString sender(const QDBusMessage& message) {
        QString name = message.service().mid(1);
        return name.replace('.', '_');
    }
    void reply(const QDBusMessage& answer) { connection_.send(answer); }
    void respond(const QDBusMessage& message, const QString& request, uint code,
                 const QVariantMap& results) {
        reply(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response = QDBusMessage::createSignal(request, QLatin1String(portal::kRequest),
                                                           QStringLiteral("Response"));
        response << code << results;
        connection_.send(response);
    }

    QDBusConnection connection_;
    Setup setup_;
};

class HotkeysTest : public RemoteTest {
protected:
    void SetUp() override {
        RemoteTest::SetUp();
        registerPortalTypes();
        portal_ = QDBusConnection::connectToBus(QString::fromStdString(bus_.address()),
                                                QStringLiteral("portal"));
        ASSERT_TRUE(portal_.isConnected());
    }
    void TearDown() override {
        shortcuts_.reset();
        fake_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
        RemoteTest::TearDown();
    }
    void startPortal(FakePortal::Setup setup) {
        fake_ = std::make_unique<FakePortal>(portal_, setup);
        ASSERT_TRUE(portal_.registerVirtualObject(QLatin1String(portal::kPath), fake_.get()));
        ASSERT_TRUE(portal_.registerService(QLatin1String(portal::kService)));
    }
    // The program's hotkeys on the window, on the service connection, until
    // the start has ended one way or the other; the log lines it wrote.
    QStringList startHotkeys() {
        shortcuts_ = std::make_unique<DesktopShortcuts>(service_, defaultHotkeys(*window_));
        takeLog();
        shortcuts_->start();
        EXPECT_TRUE(
            waitUntil([&] { return shortcuts_->state() != DesktopShortcuts::State::Starting; }));
        waitUntil([] { return false; }, 50);  // nothing more comes
        return takeLog().filter(QStringLiteral("Hotkeys"));
    }

    QDBusConnection portal_{QString()};
    std::unique_ptr<FakePortal> fake_;
    std::unique_ptr<DesktopShortcuts> shortcuts_;
};

TEST_F(HotkeysTest, WithoutThePortalOneLineSaysToBindKeysToParlunectl) {
    struct Case {
        const char* what;
        bool portal;
    };
    for (const Case c :
         {Case{"no portal on the bus", false}, Case{"a portal without the interface", true}}) {
        SCOPED_TRACE(c.what);
        openWindow();
        if (c.portal) {
            FakePortal::Setup setup;
            setup.shortcuts = false;
            startPortal(setup);
        }
        const QStringList log = startHotkeys();
        EXPECT_EQ(shortcuts_->state(), DesktopShortcuts::State::Absent);
        ASSERT_EQ(log.size(), 1);
        EXPECT_TRUE(log[0].startsWith("Hotkeys: the desktop offers no global shortcuts"));
        EXPECT_TRUE(log[0].contains("parlunectl --help"));
        if (c.portal) {
            EXPECT_EQ(fake_->members(), QStringList{"Get"});
            portal_.unregisterService(QLatin1String(portal::kService));
            portal_.unregisterObject(QLatin1String(portal::kPath));
        }
        shortcuts_.reset();
        window_.reset();
    }
}

TEST_F(HotkeysTest, BindsTheHotkeysAndActsOnTheirActivationThroughTheWindow) {
    startPortal({});
    openWindow();
    const QStringList log = startHotkeys();
    ASSERT_EQ(shortcuts_->state(), DesktopShortcuts::State::Bound);
    EXPECT_EQ(fake_->members(),
              (QStringList{"Get", "Register", "CreateSession", "ListShortcuts", "BindShortcuts"}));
    EXPECT_EQ(fake_->calls[1].arguments.value(0).toString(),
              QStringLiteral("io.github.parlune.Parlune"));
    EXPECT_EQ(shortcuts_->sessionHandle(), fake_->session);
    const QVariantMap createOptions = qdbus_cast<QVariantMap>(fake_->calls[2].arguments.value(0));
    EXPECT_FALSE(createOptions.value("handle_token").toString().isEmpty());
    EXPECT_FALSE(createOptions.value("session_handle_token").toString().isEmpty());
    EXPECT_EQ(fake_->calls[4].arguments.value(0).value<QDBusObjectPath>().path(), fake_->session);

    struct Bound {
        const char* id;
        const char* trigger;
    };
    const Bound expected[] = {{"toggle-bypass", "CTRL+ALT+B"},
                              {"next-preset", "CTRL+ALT+N"},
                              {"previous-preset", "CTRL+ALT+P"}};
    ASSERT_EQ(fake_->bound.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(fake_->bound[i].id, QLatin1String(expected[i].id));
        EXPECT_EQ(fake_->bound[i].options.value("preferred_trigger").toString(),
                  QLatin1String(expected[i].trigger));
        EXPECT_FALSE(fake_->bound[i].options.value("description").toString().isEmpty());
    }
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0],
              QStringLiteral("Hotkeys bound through the desktop: toggle-bypass (Ctrl+Alt+B), "
                             "next-preset (Ctrl+Alt+N), previous-preset (Ctrl+Alt+P)"));

    // Each activation acts as its button or double click would.
    struct Press {
        const char* id;
        bool ownSession;
        bool bypass;
        int preset;  // from 1, 0: none applied
    };
    const Press presses[] = {
        {"toggle-bypass", true, true, 0},
        {"next-preset", true, true, 1},
        {"previous-preset", true, true, 8},
        {"previous-preset", true, true, 7},
        {"toggle-bypass", true, false, 7},
        // Another program's session, and an id that is not ours, do nothing.
        {"toggle-bypass", false, false, 7},
        {"record", true, false, 7},
    };
    for (const Press& p : presses) {
        SCOPED_TRACE(std::string(p.id) + (p.ownSession ? "" : " in another session"));
        fake_->activate(p.ownSession ? fake_->session : fake_->session + "x", p.id);
        waitUntil([] { return false; }, 50);
        const QVariantMap v = voice();
        EXPECT_EQ(v.value(remote::key::bypass).toBool(), p.bypass);
        EXPECT_EQ(v.value(remote::key::presetPosition).toInt(), p.preset);
        expectInStep(v);
    }
}

TEST_F(HotkeysTest, HowTheStartEndsWithWhatThePortalAnswers) {
    struct Case {
        const char* what;
        FakePortal::Setup setup;
        DesktopShortcuts::State state;
        QStringList members;
        const char* line;  // what the one log line starts with
    };
    const QStringList all = {"Get", "Register", "CreateSession", "ListShortcuts", "BindShortcuts"};
    const auto setup = [](const std::function<void(FakePortal::Setup&)>& change) {
        FakePortal::Setup s;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"hotkeys the desktop keeps are not bound again",
         setup([](auto& s) {
             s.kept = QStringList{"previous-preset", "toggle-bypass", "next-preset"};
         }),
         DesktopShortcuts::State::Bound,
         {"Get", "Register", "CreateSession", "ListShortcuts"},
         "Hotkeys bound through the desktop: toggle-bypass (Kept+toggle-bypass)"},
        {"one of them missing: all are bound",
         setup([](auto& s) { s.kept = QStringList{"toggle-bypass"}; }),
         DesktopShortcuts::State::Bound, all,
         "Hotkeys bound through the desktop: toggle-bypass (Ctrl"},
        {"an older portal without the registry", setup([](auto& s) { s.registry = false; }),
         DesktopShortcuts::State::Bound, all, "Hotkeys bound through the desktop"},
        {"a portal that cannot list binds them", setup([](auto& s) { s.listFails = true; }),
         DesktopShortcuts::State::Bound, all, "Hotkeys bound through the desktop"},
        {"no session",
         setup([](auto& s) { s.sessionAnswer = 2; }),
         DesktopShortcuts::State::Failed,
         {"Get", "Register", "CreateSession"},
         "Hotkeys: the desktop made no shortcuts session (answer 2)"},
        {"the user cancels the binding", setup([](auto& s) { s.bindAnswer = 1; }),
         DesktopShortcuts::State::Failed, all,
         "Hotkeys: the desktop did not bind them (cancelled)"},
        {"the desktop refuses the binding", setup([](auto& s) { s.bindAnswer = 2; }),
         DesktopShortcuts::State::Failed, all, "Hotkeys: the desktop did not bind them (refused)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startPortal(c.setup);
        openWindow();
        const QStringList log = startHotkeys();
        EXPECT_EQ(shortcuts_->state(), c.state);
        EXPECT_EQ(fake_->members(), c.members);
        ASSERT_EQ(log.size(), 1);
        EXPECT_TRUE(log[0].startsWith(QLatin1String(c.line))) << log[0].toStdString();
        if (c.state == DesktopShortcuts::State::Failed) {
            EXPECT_TRUE(log[0].contains("parlunectl"));
        }
        shortcuts_.reset();
        window_.reset();
        portal_.unregisterService(QLatin1String(portal::kService));
        portal_.unregisterObject(QLatin1String(portal::kPath));
        fake_.reset();
    }
}

}  // namespace
}  // namespace parlune::app
