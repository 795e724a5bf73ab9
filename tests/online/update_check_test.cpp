// The update check's side of the contract: the status file it is pointed at,
// the values it reads there, what the update handler shows and does for each
// event and answer, and a component that refuses or throws.
#include "online/update_check.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "tests/online/qt_printers.h"
#include "tests/support/test_support.h"

namespace parlune::online {
namespace {

// A component the test drives: it records the requests and calls back when
// the test says so.
class ScriptedComponent : public UpdateComponent {
public:
    struct Shared {
        Callback callback;
        QStringList calls;
        UpdateResult startResult;
        bool throwOnRequest = false;
    };
    explicit ScriptedComponent(Shared& shared) : shared_(shared) {}
    UpdateResult runUpdateCheck(Callback callback) override {
        shared_.calls << QStringLiteral("check");
        shared_.callback = std::move(callback);
        return shared_.startResult;
    }
    UpdateResult request(int action) override {
        shared_.calls << QStringLiteral("request %1").arg(action);
        if (shared_.throwOnRequest) throw std::runtime_error("the component broke");
        return {};
    }

private:
    Shared& shared_;
};

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class UpdateCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "online_update_check_test";
        static char* argv[] = {name, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    static void TearDownTestSuite() { delete app_; }

    // A check started on a scripted component whose event 0 named dir_.
    std::unique_ptr<UpdateCheck> startedCheck() {
        auto check = std::make_unique<UpdateCheck>(std::make_unique<ScriptedComponent>(shared_));
        EXPECT_TRUE(check->start([this](quint16 value, quint16 event, const QString& text) {
            seen_ << QStringLiteral("%1 %2 %3").arg(value).arg(event).arg(text);
        }));
        shared_.callback(0, 0, QString::fromStdString(dir_.path()));
        return check;
    }
    void writeStatus(const std::string& text) { writeFile(dir_.file("Status.ini"), text); }

    static inline QCoreApplication* app_ = nullptr;
    test::TempDir dir_;
    ScriptedComponent::Shared shared_;
    QStringList seen_;
};

TEST_F(UpdateCheckTest, EventsReachTheHandlerAndEventZeroNamesTheStatusFolder) {
    UpdateCheck check(std::make_unique<ScriptedComponent>(shared_));
    EXPECT_TRUE(check.start([this](quint16 value, quint16 event, const QString& text) {
        seen_ << QStringLiteral("%1 %2 %3").arg(value).arg(event).arg(text);
    }));
    EXPECT_EQ(shared_.calls, QStringList{QStringLiteral("check")});
    EXPECT_EQ(check.statusFilePath(), QString());
    EXPECT_EQ(check.title(), QString());  // nothing to read yet
    const QString folder = QString::fromStdString(dir_.path());
    shared_.callback(0, 0, folder);
    shared_.callback(7, 2, QStringLiteral("2.3"));
    EXPECT_EQ(check.statusFilePath(), folder + QStringLiteral("/Status.ini"));
    EXPECT_EQ(seen_, QStringList({QStringLiteral("0 0 ") + folder, QStringLiteral("7 2 2.3")}));
    // A folder reported with its trailing slash gives the same file.
    shared_.callback(0, 0, folder + QLatin1Char('/'));
    EXPECT_EQ(check.statusFilePath(), folder + QStringLiteral("/Status.ini"));
}

TEST_F(UpdateCheckTest, StatusValuesAreReadWhenAsked) {
    auto check = startedCheck();
    struct Case {
        const char* what;
        std::string file;  // empty: no file
        QString title, version, releaseDate;
        qint64 size;
    };
    const std::string long300(300, 'x');
    const Case cases[] = {
        {"no file", "", "", "", "", 0},
        {"all four",
         "[Update]\nTitle=Parlune\nVersion=2.3.0.0\nReleaseDate=2027-01-15\n"
         "DownloadSize=15728640\n",
         "Parlune", "2.3.0.0", "2027-01-15", 15728640},
        {"another section only", "[Other]\nTitle=Wrong\nDownloadSize=5\n", "", "", "", 0},
        {"commas, quoted or not",
         "[Update]\nTitle=Parlune, the voice changer\nReleaseDate=\"Jan 5, 2027\"\n",
         "Parlune, the voice changer", "", "Jan 5, 2027", 0},
        {"texts stop at 255 characters", "[Update]\nTitle=" + long300 + "\n", QString(255, 'x'), "",
         "", 0},
        {"a size that is no number", "[Update]\nDownloadSize=lots\n", "", "", "", 0},
        {"a size beyond 32 bits", "[Update]\nDownloadSize=5368709120\n", "", "", "", 5368709120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(dir_.file("Status.ini").c_str());
        if (!c.file.empty()) writeStatus(c.file);
        EXPECT_EQ(check->title(), c.title);
        EXPECT_EQ(check->version(), c.version);
        EXPECT_EQ(check->releaseDate(), c.releaseDate);
        EXPECT_EQ(check->downloadSize(), c.size);
    }
}

TEST_F(UpdateCheckTest, AComponentThatCannotStartOrThrowsLeavesOnlyItsText) {
    UpdateCheck none(nullptr);
    EXPECT_FALSE(none.start({}));
    EXPECT_NE(none.lastResultCode(), 0);
    none.request(update_action::kDownload);  // nothing to call, nothing breaks
    EXPECT_NE(none.lastResultCode(), 0);

    shared_.startResult = {1, QStringLiteral("no version feed configured")};
    UpdateCheck refused(std::make_unique<ScriptedComponent>(shared_));
    EXPECT_FALSE(refused.start({}));
    EXPECT_EQ(refused.lastResultCode(), 1);
    EXPECT_EQ(refused.lastResultText(), QStringLiteral("no version feed configured"));

    shared_.startResult = {};
    shared_.throwOnRequest = true;
    UpdateCheck throwing(std::make_unique<ScriptedComponent>(shared_));
    EXPECT_TRUE(throwing.start({}));
    throwing.request(update_action::kInstall);
    EXPECT_NE(throwing.lastResultCode(), 0);
    EXPECT_EQ(throwing.lastResultText(), QStringLiteral("the component broke"));
}

TEST(DownloadSizeText, WrittenAsAStreamWritesADouble) {
    const struct {
        qint64 bytes;
        const char* text;
    } cases[] = {
        {15 * 1048576LL, "15"},
        {1572864, "1.5"},
        {0, "0"},
        {1234567890, "1177.38"},
        {524288, "0.5"},
        {1048575, "0.999999"},
        {1, "9.53674e-07"},
        {1099511627776LL, "1.04858e+06"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(downloadSizeText(c.bytes), QString::fromLatin1(c.text)) << c.bytes;
}

// Each event with each answer: what is shown, then what the handler did.
TEST_F(UpdateCheckTest, TheHandlerShowsEachDialogAndActsOnYesOnly) {
    writeStatus(
        "[Update]\nTitle=Parlune\nVersion=2.3.0.0\nReleaseDate=2027-01-15\n"
        "DownloadSize=15728640\n");
    auto check = startedCheck();
    const QString available = QStringLiteral(
        "question Confirmation / Parlune V 2.3.0.0 is available for download (Size: 15 MB, "
        "Release Date: 2027-01-15). Do you want to download now?");
    const QString ready = QStringLiteral(
        "question Confirmation / Parlune V 2.3.0.0 is ready to install. Please close the old "
        "program before installation.");
    struct Case {
        quint16 event;
        bool answer;
        QStringList happened;
    };
    const Case cases[] = {
        {1, true, {QStringLiteral("information Information / Parlune V 2.3.0.0 is up to date.")}},
        {2, true, {available, QStringLiteral("request 2")}},
        {2, false, {available}},
        {3, true, {ready, QStringLiteral("quit"), QStringLiteral("request 3")}},
        {3, false, {ready}},
        {6, true, {QStringLiteral("quit")}},
        {0, true, {}},
        {4, true, {}},
        {5, true, {}},
        {7, true, {}},
        {65535, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "event " << c.event << " answered " << (c.answer ? "Yes" : "No"));
        QStringList happened;
        UpdatePrompts prompts;
        prompts.information = [&](const QString& title, const QString& text) {
            happened << QStringLiteral("information ") + title + QStringLiteral(" / ") + text;
        };
        prompts.question = [&](const QString& title, const QString& text) {
            happened << QStringLiteral("question ") + title + QStringLiteral(" / ") + text;
            return c.answer;
        };
        prompts.quit = [&] { happened << QStringLiteral("quit"); };
        shared_.calls.clear();
        handleUpdateEvent(c.event, *check, prompts);
        happened << shared_.calls;
        EXPECT_EQ(happened, c.happened);
    }
}

TEST_F(UpdateCheckTest, MissingValuesShowAsEmptyTextsAndNoSize) {
    auto check = startedCheck();  // no Status.ini in the folder
    QStringList shown;
    UpdatePrompts prompts;
    prompts.information = [&](const QString&, const QString& text) { shown << text; };
    prompts.question = [&](const QString&, const QString& text) {
        shown << text;
        return false;
    };
    prompts.quit = [] {};
    handleUpdateEvent(1, *check, prompts);
    handleUpdateEvent(2, *check, prompts);
    EXPECT_EQ(shown,
              QStringList({QStringLiteral(" V  is up to date."),
                           QStringLiteral(" V  is available for download (Size: 0 MB, "
                                          "Release Date: ). Do you want to download now?")}));
}

}  // namespace
}  // namespace parlune::online
