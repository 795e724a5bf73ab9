// The usage ping: its body to the byte, the request as a server receives it,
// a failed reply's one log line, and when nothing may be sent at all.
#include "online/usage_ping.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "tests/online/loopback_http.h"
#include "tests/online/qt_printers.h"

namespace parlune::online {
namespace {

using test::HttpResponse;
using test::LoopbackHttp;
using test::waitFor;

std::mutex logMutex;
QStringList logLines;

void collect(QtMsgType, const QMessageLogContext&, const QString& message) {
    std::lock_guard<std::mutex> lock(logMutex);
    logLines << message;
}

QStringList takeLog() {
    std::lock_guard<std::mutex> lock(logMutex);
    QStringList lines = logLines;
    logLines.clear();
    return lines;
}

class UsagePingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "online_usage_ping_test";
        static char* argv[] = {name, nullptr};
        app_ = new QCoreApplication(argc, argv);
        qInstallMessageHandler(collect);
    }
    static void TearDownTestSuite() {
        qInstallMessageHandler(nullptr);
        delete app_;
    }
    void SetUp() override {
        unsetenv("DO_NOT_TRACK");
        setenv("PARLUNE_PING_TID", "UA-1234-5", 1);
        ASSERT_TRUE(server_.listening());
        server_.route("/collect", HttpResponse{200, ""});
        setenv("PARLUNE_PING_URL", server_.url("/collect").toUtf8().constData(), 1);
        takeLog();
    }
    void TearDown() override {
        unsetenv("PARLUNE_PING_TID");
        unsetenv("PARLUNE_PING_URL");
        unsetenv("DO_NOT_TRACK");
    }

    // Sends one ping through a manager of its own, connected as the window
    // connects it, and waits until its reply is in.
    static void pingAndWait() {
        QNetworkAccessManager manager;
        bool done = false;
        QObject::connect(&manager, &QNetworkAccessManager::finished, [&done](QNetworkReply* r) {
            logPingReply(r);
            done = true;
        });
        ASSERT_TRUE(postUsagePing(manager));
        ASSERT_TRUE(waitFor([&done] { return done; }));
    }

    static inline QCoreApplication* app_ = nullptr;
    LoopbackHttp server_;
};

TEST(PingBody, FieldsInOrderInTheLenientForm) {
    const QUuid cid(QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}"));
    struct Case {
        const char* what;
        QString tid, host, domain;
        QByteArray tidSent, dhSent;
    };
    const Case cases[] = {
        {"plain", "UA-1234-5", "studio", "lan", "UA-1234-5", "studio.lan"},
        {"no domain leaves the dot", "UA-1", "studio", "", "UA-1", "studio."},
        {"query delimiters inside a value", "a&b=c#d", "x%y+z", "", "a%26b%3Dc%23d", "x%25y%2Bz."},
        {"spaces and control characters", "a b\tc", "h", "d\n", "a%20b%09c", "h.d%0A"},
        {"non-ASCII as UTF-8", QStringLiteral("t\u00e9"), QStringLiteral("h\u00f6st"), "lan",
         "t\xc3\xa9", "h\xc3\xb6st.lan"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(pingBody(c.tid, cid, c.host, c.domain),
                  "v=1&tid=" + c.tidSent +
                      "&cid={0f8fad5b-d9cb-469f-a165-70867728950e}&t=pageview&dh=" + c.dhSent +
                      "&dp=ui->pageViewPageLineEdit->text()&dt=ui->pageViewTitleLineEdit->text()");
    }
}

TEST_F(UsagePingTest, OnePostWithTheFormHeaderAndANewClientEachTime) {
    pingAndWait();
    pingAndWait();
    ASSERT_EQ(server_.requests().size(), 2);
    const QString dh = QHostInfo::localHostName() + '.' + QHostInfo::localDomainName();
    QStringList cids;
    for (const test::HttpRequest& request : server_.requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.target, "/collect");
        EXPECT_EQ(request.headers.value("content-type"), "application/x-www-form-urlencoded");
        const QRegularExpression form(
            QStringLiteral(
                "^v=1&tid=UA-1234-5&cid=(\\{[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\\})"
                "&t=pageview&dh=") +
            QRegularExpression::escape(dh) +
            QStringLiteral("&dp=ui->pageViewPageLineEdit->text\\(\\)"
                           "&dt=ui->pageViewTitleLineEdit->text\\(\\)$"));
        const QRegularExpressionMatch match = form.match(QString::fromUtf8(request.body));
        ASSERT_TRUE(match.hasMatch()) << request.body.toStdString();
        cids << match.captured(1);
    }
    EXPECT_NE(cids[0], cids[1]);
    // A reply without error logs nothing.
    EXPECT_EQ(takeLog(), QStringList());
}

TEST_F(UsagePingTest, AFailedReplyLogsItsErrorCodeOnce) {
    struct Case {
        const char* what;
        QString url;
        int code;
    };
    server_.route("/broken", HttpResponse{500, "no"});
    const Case cases[] = {
        {"no server", LoopbackHttp::refusingUrl("/collect"), QNetworkReply::ConnectionRefusedError},
        {"server error", server_.url("/broken"), QNetworkReply::InternalServerError},
        {"not found", server_.url("/elsewhere"), QNetworkReply::ContentNotFoundError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setenv("PARLUNE_PING_URL", c.url.toUtf8().constData(), 1);
        pingAndWait();
        EXPECT_EQ(takeLog(), QStringList{QStringLiteral("Finished, error: %1").arg(c.code)});
    }
}

TEST_F(UsagePingTest, NothingIsSentWithoutATrackingIdOrWhenTrackingIsRefused) {
    struct Case {
        const char* what;
        const char* tid;  // null: unset
        const char* url;  // null: the server's
        const char* doNotTrack;
        QString line;
    };
    const Case cases[] = {
        {"DO_NOT_TRACK=1", "UA-1", nullptr, "1",
         QStringLiteral("Usage ping not sent: DO_NOT_TRACK is set")},
        {"DO_NOT_TRACK=true", "UA-1", nullptr, "true",
         QStringLiteral("Usage ping not sent: DO_NOT_TRACK is set")},
        {"empty tracking id", "", nullptr, nullptr,
         QStringLiteral("Usage ping not sent: no tracking id configured (PARLUNE_PING_TID)")},
        {"blank tracking id", "  ", nullptr, nullptr,
         QStringLiteral("Usage ping not sent: no tracking id configured (PARLUNE_PING_TID)")},
        {"empty address", "UA-1", "", nullptr,
         QStringLiteral(
             "Usage ping not sent: no collection address configured (PARLUNE_PING_URL)")},
        {"not a web address", "UA-1", "ftp://127.0.0.1/collect", nullptr,
         QStringLiteral("Usage ping not sent: the collection address is not an http(s) address: "
                        "ftp://127.0.0.1/collect")},
        {"no host", "UA-1", "http:///collect", nullptr,
         QStringLiteral("Usage ping not sent: the collection address is not an http(s) address: "
                        "http:///collect")},
    };
    QNetworkAccessManager manager;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setenv("PARLUNE_PING_TID", c.tid, 1);
        setenv("PARLUNE_PING_URL", c.url ? c.url : server_.url("/collect").toUtf8().constData(), 1);
        if (c.doNotTrack)
            setenv("DO_NOT_TRACK", c.doNotTrack, 1);
        else
            unsetenv("DO_NOT_TRACK");
        EXPECT_FALSE(postUsagePing(manager));
        EXPECT_EQ(takeLog(), QStringList{c.line});
    }
    // DO_NOT_TRACK=0 is no refusal: this one goes out, and it is the only one
    // the server ever sees.
    setenv("PARLUNE_PING_TID", "UA-1", 1);
    setenv("PARLUNE_PING_URL", server_.url("/collect").toUtf8().constData(), 1);
    setenv("DO_NOT_TRACK", "0", 1);
    pingAndWait();
    test::spin(100);
    EXPECT_EQ(server_.requests().size(), 1);
}

}  // namespace
}  // namespace parlune::online
