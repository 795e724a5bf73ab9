// The online services as the window runs them: the usage ping of each start,
// with a server and without one; the update check's dialogs and answers up
// to the install that ends the event loop; the four links as the desktop
// receives them.
#include <QApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "app/core/properties.h"
#include "app/main_window.h"
#include "online/links.h"
#include "tests/online/loopback_http.h"
#include "tests/online/qt_printers.h"
#include "tools/quiet_window_services.h"

namespace parlune::app {
namespace {

namespace fs = std::filesystem;
using test::HttpResponse;
using test::LoopbackHttp;
using test::waitFor;

std::mutex logMutex;
QStringList logLines;

void note(const QString& line) {
    std::lock_guard<std::mutex> lock(logMutex);
    logLines << line;
}

void collect(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg) note(message);
}

QStringList takeLog() {
    std::lock_guard<std::mutex> lock(logMutex);
    QStringList lines = logLines;
    logLines.clear();
    return lines;
}

// What the desktop is handed, caught by scheme.
class Desktop : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

// The routing and the audio server replaced by hooks; the boxes written to
// the log; every question answered with `answer`.
WindowServices quietServices(const bool& answer) {
    WindowServices s = tools::quietServices();
    s.startQuibDefault = [] { note(QStringLiteral("hook: startQuibDefault")); };
    s.stopQuibRestore = [] {};
    s.startLiveChain = [] { note(QStringLiteral("hook: startLiveChain")); };
    s.openUrl = WindowServices::system().openUrl;
    s.messageBox = [](QMessageBox::Icon icon, const QString& title, const QString& text) {
        note(QStringLiteral("box %1 %2 / %3").arg(icon).arg(title, text));
    };
    s.askYesNo = [&answer](const QString& title, const QString& text) {
        note(QStringLiteral("question %1 / %2 -> %3").arg(title, text, answer ? "Yes" : "No"));
        return answer;
    };
    return s;
}

class OnlineWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/parlune-online-window.XXXXXX";
        root_ = new fs::path(mkdtemp(pattern));
        for (const char* sub : {"share", "run", "cache"}) fs::create_directories(*root_ / sub);
        fs::permissions(*root_ / "run", fs::perms::owner_all);
        setenv("XDG_DATA_HOME", (*root_ / "share").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (*root_ / "run").c_str(), 1);
        setenv("XDG_CACHE_HOME", (*root_ / "cache").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("PARLUNE_AUDIO_BACKEND", "inprocess", 1);
        static int argc = 1;
        static char name[] = "online_window_test";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        qInstallMessageHandler(collect);
    }
    static void TearDownTestSuite() {
        qInstallMessageHandler(nullptr);
        delete app_;
        std::error_code ec;
        fs::remove_all(*root_, ec);
        delete root_;
    }
    void SetUp() override {
        ASSERT_TRUE(server_.listening());
        unsetenv("DO_NOT_TRACK");
        setenv("PARLUNE_PING_TID", "", 1);
        setenv("PARLUNE_UPDATE_FEED", "", 1);
        for (const char* scheme : {"http", "mailto", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &desktop_, "open");
        takeLog();
    }
    void TearDown() override {
        for (const char* scheme : {"http", "mailto", "file"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        unsetenv("PARLUNE_PING_TID");
        unsetenv("PARLUNE_PING_URL");
        unsetenv("PARLUNE_UPDATE_FEED");
        properties().set(prop::isRunning, false);
    }

    static fs::path cacheFolder() { return *root_ / "cache" / "parlune"; }

    static inline QApplication* app_ = nullptr;
    static inline fs::path* root_ = nullptr;
    LoopbackHttp server_;
    Desktop desktop_;
    bool answer_ = true;
};

TEST_F(OnlineWindowTest, EachStartPingsOnceWithANewClient) {
    server_.route("/collect", HttpResponse{200, ""});
    setenv("PARLUNE_PING_URL", server_.url("/collect").toUtf8().constData(), 1);
    setenv("PARLUNE_PING_TID", "UA-1234-5", 1);
    {
        MainWindow first(quietServices(answer_));
        ASSERT_TRUE(waitFor([this] { return server_.requests().size() == 1; }));
    }
    {
        MainWindow second(quietServices(answer_));
        ASSERT_TRUE(waitFor([this] { return server_.requests().size() == 2; }));
        test::spin(50);
    }
    ASSERT_EQ(server_.requests().size(), 2);
    QStringList cids;
    for (const test::HttpRequest& request : server_.requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.headers.value("content-type"), "application/x-www-form-urlencoded");
        const QByteArray body = request.body;
        EXPECT_TRUE(body.startsWith("v=1&tid=UA-1234-5&cid={")) << body.toStdString();
        cids << QString::fromUtf8(body.mid(body.indexOf("cid="), 43));
    }
    EXPECT_NE(cids[0], cids[1]);
    EXPECT_FALSE(takeLog().join('\n').contains(QLatin1String("Finished, error:")));
}

TEST_F(OnlineWindowTest, WithoutAServerTheStartIsTheSameAndOneErrorIsLogged) {
    setenv("PARLUNE_PING_URL", LoopbackHttp::refusingUrl("/collect").toUtf8().constData(), 1);
    setenv("PARLUNE_PING_TID", "UA-1234-5", 1);
    MainWindow window(quietServices(answer_));
    // The start did not wait for the network: routing and live chain ran.
    EXPECT_TRUE(properties().get(prop::isRunning));
    const QStringList started = takeLog();
    EXPECT_TRUE(started.contains(QStringLiteral("hook: startQuibDefault")));
    EXPECT_TRUE(started.contains(QStringLiteral("hook: startLiveChain")));
    EXPECT_FALSE(started.join('\n').contains(QLatin1String("Usage ping not sent")));
    QStringList later;
    ASSERT_TRUE(waitFor([&later] {
        later << takeLog();
        return later.join('\n').contains(QLatin1String("Finished, error:"));
    }));
    test::spin(100);
    later << takeLog();
    EXPECT_EQ(later.filter(QStringLiteral("Finished, error:")),
              QStringList{QStringLiteral("Finished, error: 1")});
}

// A server that takes every request and never answers: the window starts
// all the same, and goes with both requests still open.
TEST_F(OnlineWindowTest, ASilentServerHoldsNothingUp) {
    server_.route("/collect", HttpResponse{200, "", HttpResponse::Mode::Silent});
    server_.route("/feed.json", HttpResponse{200, "", HttpResponse::Mode::Silent});
    setenv("PARLUNE_PING_URL", server_.url("/collect").toUtf8().constData(), 1);
    setenv("PARLUNE_PING_TID", "UA-1234-5", 1);
    setenv("PARLUNE_UPDATE_FEED", server_.url("/feed.json").toUtf8().constData(), 1);
    {
        MainWindow window(quietServices(answer_));
        EXPECT_TRUE(properties().get(prop::isRunning));
        ASSERT_TRUE(waitFor([this] { return server_.requests().size() == 2; }));
    }
    test::spin(50);
    const QStringList log = takeLog();
    EXPECT_TRUE(log.contains(QStringLiteral("hook: startLiveChain")));
    EXPECT_EQ(log.filter(QStringLiteral("box ")), QStringList());
    EXPECT_EQ(log.filter(QStringLiteral("question ")), QStringList());
}

QByteArray installer() { return QByteArray("#!/bin/sh\necho installing\n").repeated(100); }

QByteArray feedFor(const char* version) {
    const QByteArray file = installer();
    return QJsonDocument(
               QJsonObject{
                   {"version", version},
                   {"releaseDate", "2027-01-15"},
                   {"size", 15 * 1048576},
                   {"url", "/parlune-2.3.0.0.run"},
                   {"sha256",
                    QString::fromLatin1(
                        QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex())}})
        .toJson();
}

TEST_F(OnlineWindowTest, UpToDateIsShownOnce) {
    server_.route("/feed.json", HttpResponse{200, feedFor("2.2.0.0")});
    setenv("PARLUNE_UPDATE_FEED", server_.url("/feed.json").toUtf8().constData(), 1);
    MainWindow window(quietServices(answer_));
    ASSERT_TRUE(waitFor([] {
        std::lock_guard<std::mutex> lock(logMutex);
        return !logLines.filter(QStringLiteral("box ")).isEmpty();
    }));
    test::spin(50);
    EXPECT_EQ(takeLog().filter(QStringLiteral("box ")),
              QStringList{QStringLiteral("box %1 Information / Parlune V 2.2.0.0 is up to date.")
                              .arg(QMessageBox::Information)});
}

TEST_F(OnlineWindowTest, NoToTheDownloadLeavesItThere) {
    server_.route("/feed.json", HttpResponse{200, feedFor("2.3.0.0")});
    setenv("PARLUNE_UPDATE_FEED", server_.url("/feed.json").toUtf8().constData(), 1);
    answer_ = false;
    MainWindow window(quietServices(answer_));
    ASSERT_TRUE(waitFor([] {
        std::lock_guard<std::mutex> lock(logMutex);
        return !logLines.filter(QStringLiteral("question ")).isEmpty();
    }));
    test::spin(100);
    EXPECT_EQ(takeLog().filter(QStringLiteral("question ")),
              QStringList{QStringLiteral(
                  "question Confirmation / Parlune V 2.3.0.0 is available for download (Size: 15 "
                  "MB, Release Date: 2027-01-15). Do you want to download now? -> No")});
    EXPECT_EQ(server_.requests().size(), 1);  // the feed, and no download
}

// Yes and Yes: the download, then the install, which ends the event loop so
// the entry point's tear-down runs, and hands the file to the desktop.
TEST_F(OnlineWindowTest, YesToBothDownloadsThenEndsTheLoopAndOpensTheInstaller) {
    // The feed's size must be the file's for the download to pass.
    QJsonObject entry = QJsonDocument::fromJson(feedFor("2.3.0.0")).object();
    entry["size"] = installer().size();
    server_.route("/feed.json", HttpResponse{200, QJsonDocument(entry).toJson()});
    server_.route("/parlune-2.3.0.0.run", HttpResponse{200, installer()});
    setenv("PARLUNE_UPDATE_FEED", server_.url("/feed.json").toUtf8().constData(), 1);
    MainWindow window(quietServices(answer_));
    QTimer::singleShot(10000, [] { QCoreApplication::exit(3); });  // never hang
    EXPECT_EQ(QApplication::exec(), 0);
    // 2600 bytes.
    EXPECT_EQ(takeLog().filter(QStringLiteral("question ")),
              QStringList({QStringLiteral("question Confirmation / Parlune V 2.3.0.0 is available "
                                          "for download (Size: 0.00247955 MB, Release Date: "
                                          "2027-01-15). Do you want to download now? -> Yes"),
                           QStringLiteral("question Confirmation / Parlune V 2.3.0.0 is ready to "
                                          "install. Please close the old program before "
                                          "installation. -> Yes")}));
    const fs::path file = cacheFolder() / "parlune-2.3.0.0.run";
    EXPECT_EQ(desktop_.opened,
              QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(file.string()))});
    EXPECT_EQ(fs::file_size(file), static_cast<uintmax_t>(installer().size()));
}

TEST_F(OnlineWindowTest, EachLinkButtonHandsItsWholeLinkToTheDesktop) {
    MainWindow window(quietServices(answer_));
    const QString host = links::host();
    const QString home = links::homePage();
    const struct {
        const char* button;
        QString link;  // as the desktop receives it, encoded
    } cases[] = {
        {"emailButton",
         QStringLiteral(
             "mailto:?subject=I%20just%20found%20this%20amazing%20voice%20changing%20app!&body="
             "Hey,%20I%20just%20discovered%20PARLUNE,%20a%20super%20cool%20voice%20changing%20app"
             "%20to%20use%20with%20skype%20or%20any%20other%20voip%20app!%0A%0AYou%20can%20also%20"
             "download%20it%20here:%20") +
             home + QStringLiteral("%20%0A%0AHave%20fun%20too!")},
        {"twitterButton",
         QStringLiteral("http://twitter.com/intent/tweet?text=Checkout%20the%20Parlune%20Real-time"
                        "%20Voice%20Changer%20for%20Skype%20and%20Game%20chat%20@%20") +
             host},
        {"facebookButton", QStringLiteral("http://www.facebook.com/sharer/sharer.php?u=") + host +
                               QStringLiteral("/share/")},
        {"websiteButton", home},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        desktop_.opened.clear();
        auto* button = window.findChild<QPushButton*>(QString::fromLatin1(c.button));
        ASSERT_NE(button, nullptr);
        // Twice pressed, twice opened.
        button->click();
        button->click();
        ASSERT_EQ(desktop_.opened.size(), 2);
        EXPECT_EQ(QString::fromLatin1(desktop_.opened[0].toEncoded()), c.link);
        EXPECT_EQ(desktop_.opened[1], desktop_.opened[0]);
    }
    // The mail's decoded parts: no recipient, the subject, three paragraphs.
    desktop_.opened.clear();
    window.findChild<QPushButton*>(QStringLiteral("emailButton"))->click();
    ASSERT_EQ(desktop_.opened.size(), 1);
    const QUrl mail = desktop_.opened[0];
    EXPECT_EQ(mail.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(mail.path(), QString());
    const QStringList body =
        QUrlQuery(mail).queryItemValue("body", QUrl::FullyDecoded).split("\n\n");
    EXPECT_EQ(body,
              QStringList({QStringLiteral("Hey, I just discovered PARLUNE, a super cool voice "
                                          "changing app to use with skype or any other voip "
                                          "app!"),
                           QStringLiteral("You can also download it here: ") + home + " ",
                           QStringLiteral("Have fun too!")}));
}

}  // namespace
}  // namespace parlune::app

#include "window_test.moc"
