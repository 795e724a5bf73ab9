// The update component against a loopback server: the feed up to date,
// newer, malformed, unreachable or silent; downloads that match their
// checksum, do not, or are cut short; and the install handed to the desktop.
#include "online/feed_update.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <gtest/gtest.h>

#include <cstdlib>

#include "online/update_check.h"
#include "tests/online/loopback_http.h"
#include "tests/online/qt_printers.h"
#include "tests/support/test_support.h"

namespace parlune::online {
namespace {

using test::HttpResponse;
using test::LoopbackHttp;
using test::waitFor;

const QByteArray kInstaller = QByteArray("#!/bin/sh\necho installing\n").repeated(4000);

QByteArray sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray feed(const QJsonObject& fields) {
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

// A feed for a newer version whose download is kInstaller.
QJsonObject newerEntry() {
    return QJsonObject{{"title", "Parlune"},
                       {"version", "2.3.0.0"},
                       {"releaseDate", "2027-01-15"},
                       {"size", kInstaller.size()},
                       {"url", "/downloads/parlune-2.3.0.0.run"},
                       {"sha256", QString::fromLatin1(sha256Hex(kInstaller))}};
}

class FeedUpdateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "online_feed_update_test";
        static char* argv[] = {name, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    static void TearDownTestSuite() { delete app_; }

    void SetUp() override { ASSERT_TRUE(server_.listening()); }

    FeedUpdateComponent::Options options(const QString& feedUrl) {
        FeedUpdateComponent::Options o;
        o.feed = feedUrl;
        o.folder = folder();
        o.openUrl = [this](const QUrl& url) {
            opened_ << url;
            return openSucceeds_;
        };
        o.timeoutMs = 500;
        return o;
    }
    // A check on a component of these options, started and run until its
    // last event (1, 2 or 4) has arrived.
    std::unique_ptr<UpdateCheck> checked(FeedUpdateComponent::Options o) {
        auto check =
            std::make_unique<UpdateCheck>(std::make_unique<FeedUpdateComponent>(std::move(o)));
        EXPECT_TRUE(check->start([this](quint16 value, quint16 event, const QString& text) {
            events_ << Event{value, event, text};
        })) << check->lastResultText().toStdString();
        EXPECT_TRUE(waitFor([this] { return !events_.isEmpty() && events_.last().event != 0; }));
        return check;
    }
    QList<quint16> eventCodes() const {
        QList<quint16> codes;
        for (const Event& e : events_) codes << e.event;
        return codes;
    }
    QString folder() const { return QString::fromStdString(dir_.path()) + "/cache/parlune"; }
    QStringList filesInFolder() const { return QDir(folder()).entryList(QDir::Files); }

    struct Event {
        quint16 value;
        quint16 event;
        QString text;
    };
    static inline QCoreApplication* app_ = nullptr;
    test::TempDir dir_;
    LoopbackHttp server_;
    QList<Event> events_;
    QList<QUrl> opened_;
    bool openSucceeds_ = true;
};

TEST(VersionOrder, NumberByNumber) {
    const struct {
        const char* a;
        const char* b;
        std::optional<int> order;
    } cases[] = {
        {"2.2.0.0", "2.2.0.0", 0},
        {"2.2.0.1", "2.2.0.0", 1},
        {"2.10", "2.9", 1},
        {"2.3", "2.3.0.0", 0},
        {"2.2.0.0", "2.2.0.0.1", -1},
        {"3", "2.99.99", 1},
        {"02.2", "2.2", 0},
        {"1.0", "18446744073709551615", -1},
        {"", "2.2", std::nullopt},
        {"2..2", "2.2", std::nullopt},
        {"2.x", "2.2", std::nullopt},
        {"2.-1", "2.2", std::nullopt},
        {"2.+1", "2.2", std::nullopt},
        {" 2.2", "2.2", std::nullopt},
        {"2.2.", "2.2", std::nullopt},
        {"18446744073709551616", "1", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const std::optional<int> order = compareVersions(c.a, c.b);
        ASSERT_EQ(order.has_value(), c.order.has_value());
        if (order) {
            EXPECT_EQ((*order > 0) - (*order < 0), *c.order);
        }
    }
}

TEST(DownloadName, TheAddressLastPartMadeSafe) {
    const struct {
        const char* url;
        const char* name;
    } cases[] = {
        {"http://h/dl/parlune-2.3.0.0.tar.gz", "parlune-2.3.0.0.tar.gz"},
        {"http://h/dl/setup.run?token=1#x", "setup.run"},
        {"http://h/", "parlune-update"},
        {"http://h", "parlune-update"},
        {"http://h/Status.ini", "parlune-updateStatus.ini"},
        {"http://h/status.INI", "parlune-updatestatus.INI"},
        {"http://h/Status.ini.new", "parlune-updateStatus.ini.new"},
        {"http://h/.bashrc", "parlune-update.bashrc"},
        {"http://h/a%2F..%2Fb%20c", "b_c"},
        {"http://h/%C3%A9t%C3%A9", "_t_"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(downloadFileName(QUrl(QString::fromLatin1(c.url))), QString::fromLatin1(c.name))
            << c.url;
}

TEST_F(FeedUpdateTest, TheFeedDecidesBetweenUpToDateAndAvailable) {
    struct Case {
        const char* what;
        QJsonObject entry;
        quint16 last;
        // Status.ini afterwards.
        QString title, version, releaseDate;
        qint64 size;
    };
    QJsonObject same = newerEntry();
    same["version"] = "2.2.0.0";
    QJsonObject older = newerEntry();
    older["version"] = "2.1.9";
    QJsonObject shortForm = newerEntry();
    shortForm["version"] = "2.2";
    QJsonObject tenth = newerEntry();
    tenth["version"] = "2.10";
    QJsonObject bare = newerEntry();
    bare.remove("title");
    bare.remove("releaseDate");
    QJsonObject comma = newerEntry();
    comma["title"] = "Parlune, the voice changer";
    const Case cases[] = {
        {"the same version", same, 1, "Parlune", "2.2.0.0", "", 0},
        {"an older version", older, 1, "Parlune", "2.2.0.0", "", 0},
        {"the same in fewer numbers", shortForm, 1, "Parlune", "2.2.0.0", "", 0},
        {"a newer version", newerEntry(), 2, "Parlune", "2.3.0.0", "2027-01-15", kInstaller.size()},
        {"2.10 is newer than 2.2", tenth, 2, "Parlune", "2.10", "2027-01-15", kInstaller.size()},
        {"title and date left out", bare, 2, "Parlune", "2.3.0.0", "", kInstaller.size()},
        {"a comma in the title", comma, 2, "Parlune, the voice changer", "2.3.0.0", "2027-01-15",
         kInstaller.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        events_.clear();
        server_.route("/feed.json", HttpResponse{200, feed(c.entry)});
        auto check = checked(options(server_.url("/feed.json")));
        EXPECT_EQ(eventCodes(), (QList<quint16>{0, c.last}));
        EXPECT_EQ(events_.value(0).text, folder());
        EXPECT_EQ(check->statusFilePath(), folder() + "/Status.ini");
        EXPECT_EQ(check->title(), c.title);
        EXPECT_EQ(check->version(), c.version);
        EXPECT_EQ(check->releaseDate(), c.releaseDate);
        EXPECT_EQ(check->downloadSize(), c.size);
        // The file is whole and alone: nothing is left beside it.
        EXPECT_EQ(filesInFolder(), QStringList{QStringLiteral("Status.ini")});
    }
    EXPECT_TRUE(opened_.isEmpty());
}

TEST_F(FeedUpdateTest, AFeedThatCannotBeHadOrReadEndsInEventFourAlone) {
    struct Case {
        const char* what;
        QString url;  // empty: the server's /feed.json
        HttpResponse answer;
        quint16 value;  // the HTTP status when one came
    };
    const auto with = [](const char* key, const QJsonValue& value) {
        QJsonObject entry = newerEntry();
        if (value.isUndefined())
            entry.remove(QLatin1String(key));
        else
            entry[QLatin1String(key)] = value;
        return HttpResponse{200, feed(entry)};
    };
    const Case cases[] = {
        {"nobody listens", LoopbackHttp::refusingUrl("/feed.json"), {}, 0},
        {"not found", "", {404, "gone"}, 404},
        {"a server error", "", {503, "busy"}, 503},
        {"silent until the time-out", "", {200, "", HttpResponse::Mode::Silent}, 0},
        {"cut short", "", {200, feed(newerEntry()), HttpResponse::Mode::CutShort, 20}, 200},
        {"not JSON", "", {200, "<html>update</html>"}, 200},
        {"a JSON array", "", {200, "[1, 2]"}, 200},
        {"empty", "", {200, ""}, 200},
        {"larger than 64 KiB", "", {200, QByteArray(70000, ' ') + feed(newerEntry())}, 200},
        {"no version", "", with("version", QJsonValue::Undefined), 200},
        {"a version with letters", "", with("version", "2.3-beta"), 200},
        {"a version as number", "", with("version", 2.3), 200},
        {"no size", "", with("size", QJsonValue::Undefined), 200},
        {"a negative size", "", with("size", -1), 200},
        {"a fractional size", "", with("size", 10.5), 200},
        {"no url", "", with("url", QJsonValue::Undefined), 200},
        {"an ftp url", "", with("url", "ftp://127.0.0.1/parlune.run"), 200},
        {"no sha256", "", with("sha256", QJsonValue::Undefined), 200},
        {"a short sha256", "", with("sha256", "abcdef"), 200},
        {"a sha256 that is no hex", "", with("sha256", QString(64, 'g')), 200},
        {"a sha256 with a non-ASCII digit", "", with("sha256", QString(63, 'a') + QChar(0x0663)),
         200},
        {"a title of 256 characters", "", with("title", QString(256, 't')), 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        events_.clear();
        server_.route("/feed.json", c.answer);
        auto check = checked(options(c.url.isEmpty() ? server_.url("/feed.json") : c.url));
        ASSERT_EQ(eventCodes(), QList<quint16>{4});
        EXPECT_EQ(events_[0].value, c.value);
        EXPECT_FALSE(events_[0].text.isEmpty());
        EXPECT_FALSE(QFile::exists(folder() + "/Status.ini"));
        // Nothing to download after a failed check.
        check->request(update_action::kDownload);
        EXPECT_NE(check->lastResultCode(), 0);
    }
}

TEST_F(FeedUpdateTest, WithoutAFeedAddressNothingStarts) {
    const struct {
        const char* what;
        QString feed;
    } cases[] = {
        {"none", ""},
        {"not a web address", "file:///etc/passwd"},
        {"no host", "http:///feed.json"},
        {"not an address", "::"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateCheck check(std::make_unique<FeedUpdateComponent>(options(c.feed)));
        EXPECT_FALSE(check.start([this](quint16, quint16 event, const QString&) {
            events_ << Event{0, event, {}};
        }));
        EXPECT_NE(check.lastResultCode(), 0);
        test::spin(50);
        EXPECT_TRUE(events_.isEmpty());
    }
    // The program's own component reads its address from the environment.
    setenv("PARLUNE_UPDATE_FEED", "", 1);
    UpdateCheck program(makeUpdateComponent());
    EXPECT_FALSE(program.start({}));
    EXPECT_EQ(program.lastResultText(),
              QStringLiteral("no version feed configured (PARLUNE_UPDATE_FEED)"));
    unsetenv("PARLUNE_UPDATE_FEED");
}

TEST_F(FeedUpdateTest, AVerifiedDownloadIsOfferedAndHandedToTheDesktop) {
    server_.route("/feed.json", HttpResponse{200, feed(newerEntry())});
    server_.route("/downloads/parlune-2.3.0.0.run", HttpResponse{200, kInstaller});
    auto check = checked(options(server_.url("/feed.json")));
    ASSERT_EQ(eventCodes(), (QList<quint16>{0, 2}));

    // Installing before the download has nothing to open.
    check->request(update_action::kInstall);
    EXPECT_NE(check->lastResultCode(), 0);

    check->request(update_action::kDownload);
    EXPECT_EQ(check->lastResultCode(), 0) << check->lastResultText().toStdString();
    // A second request while the first runs is refused.
    check->request(update_action::kDownload);
    EXPECT_NE(check->lastResultCode(), 0);
    ASSERT_TRUE(waitFor([this] { return events_.size() == 3; }));
    const QString file = folder() + "/parlune-2.3.0.0.run";
    EXPECT_EQ(events_[2].event, 3);
    EXPECT_EQ(events_[2].text, file);
    QFile kept(file);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), kInstaller);
    EXPECT_EQ(filesInFolder(), QStringList({"parlune-2.3.0.0.run", "Status.ini"}));
    EXPECT_TRUE(opened_.isEmpty());

    check->request(update_action::kInstall);
    EXPECT_EQ(check->lastResultCode(), 0);
    EXPECT_EQ(opened_, QList<QUrl>{QUrl::fromLocalFile(file)});
    ASSERT_TRUE(waitFor([this] { return events_.size() == 4; }));
    EXPECT_EQ(events_[3].event, 6);

    // A desktop that cannot open it: refused, and no event 6.
    openSucceeds_ = false;
    check->request(update_action::kInstall);
    EXPECT_NE(check->lastResultCode(), 0);
    test::spin(50);
    EXPECT_EQ(events_.size(), 4);
}

TEST_F(FeedUpdateTest, ADownloadThatFailsOrDoesNotMatchIsRemovedAndNeverOffered) {
    struct Case {
        const char* what;
        HttpResponse answer;
        quint16 value;
    };
    QByteArray tampered = kInstaller;
    tampered[100] = 'X';
    const Case cases[] = {
        {"another file of the same size", {200, tampered}, 200},
        {"cut short", {200, kInstaller, HttpResponse::Mode::CutShort, 5000}, 200},
        {"nothing after the header", {200, kInstaller, HttpResponse::Mode::CutShort, 0}, 200},
        {"shorter than the feed says", {200, kInstaller.left(kInstaller.size() - 1)}, 200},
        {"longer than the feed says", {200, kInstaller + "tail"}, 200},
        {"not found", {404, "gone"}, 404},
        {"silent until the time-out", {200, "", HttpResponse::Mode::Silent}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        events_.clear();
        server_.route("/feed.json", HttpResponse{200, feed(newerEntry())});
        server_.route("/downloads/parlune-2.3.0.0.run", c.answer);
        auto check = checked(options(server_.url("/feed.json")));
        ASSERT_EQ(eventCodes(), (QList<quint16>{0, 2}));
        check->request(update_action::kDownload);
        ASSERT_TRUE(waitFor([this] { return events_.size() == 3; }));
        EXPECT_EQ(events_[2].event, 5);
        EXPECT_EQ(events_[2].value, c.value);
        EXPECT_FALSE(events_[2].text.isEmpty());
        EXPECT_EQ(filesInFolder(), QStringList{"Status.ini"});
        check->request(update_action::kInstall);
        EXPECT_NE(check->lastResultCode(), 0);
        EXPECT_TRUE(opened_.isEmpty());
    }
}

TEST_F(FeedUpdateTest, ADownloadCutOffByTheEndOfTheProgramIsNotKept) {
    server_.route("/feed.json", HttpResponse{200, feed(newerEntry())});
    server_.route("/downloads/parlune-2.3.0.0.run",
                  HttpResponse{200, kInstaller, HttpResponse::Mode::Stall, 50000});
    auto check = checked(options(server_.url("/feed.json")));
    check->request(update_action::kDownload);
    ASSERT_TRUE(
        waitFor([this] { return QFile(folder() + "/parlune-2.3.0.0.run.part").size() > 0; }));
    check.reset();
    EXPECT_EQ(filesInFolder(), QStringList{"Status.ini"});
    EXPECT_EQ(eventCodes(), (QList<quint16>{0, 2}));
}

// The real desktop opener, caught where the desktop would take it.
class FileCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> caught;
public slots:
    void open(const QUrl& url) { caught << url; }
};

TEST_F(FeedUpdateTest, TheProgramsOwnOpenerGoesToTheDesktop) {
    server_.route("/feed.json", HttpResponse{200, feed(newerEntry())});
    server_.route("/downloads/parlune-2.3.0.0.run", HttpResponse{200, kInstaller});
    FeedUpdateComponent::Options o = options(server_.url("/feed.json"));
    o.openUrl = nullptr;
    FileCatcher desktop;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
    auto check = checked(std::move(o));
    check->request(update_action::kDownload);
    ASSERT_TRUE(waitFor([this] { return events_.size() == 3; }));
    check->request(update_action::kInstall);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(desktop.caught, QList<QUrl>{QUrl::fromLocalFile(folder() + "/parlune-2.3.0.0.run")});
}

}  // namespace
}  // namespace parlune::online

#include "feed_update_test.moc"
