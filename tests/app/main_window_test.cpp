// The main window built offscreen on the in-process audio backend, with the
// routing and the desktop replaced by hooks that write into the same log as
// the window's own debug lines, so the start-up order reads from one list.
#include "app/main_window.h"
#include "tests/app/window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "app/core/data_files.h"
#include "app/core/properties.h"
#include "engine/engine.h"
#include "online/links.h"

namespace parlune::app {
namespace {

TEST_F(MainWindowTest, StartsUpInTheDesignedOrder) {
    MainWindow window(loggingServices());
    QStringList log = takeLog();

    // The copy line names the folders of this run; its place is what counts.
    for (QString& line : log)
        if (line.startsWith(QLatin1String("copyCommand"))) line = QStringLiteral("copyCommand");
    const QStringList expected = {
        QStringLiteral("Usage ping not sent: no tracking id configured (PARLUNE_PING_TID)"),
        QStringLiteral("hook: mute() formant=1.5"),
        QStringLiteral("copyCommand"),
        QStringLiteral("selectdevice ........ Speaker"),
        QStringLiteral("hook: startupCheck(0) speaker=Speaker"),
        QStringLiteral("hook: requireVirtualDevice"),
        QStringLiteral("+++++++++++++++++ PLAY"),
        QStringLiteral("hook: startQuibDefault"),
        QStringLiteral("hook: startLiveChain isRunning=1"),
        QStringLiteral(
            "Update check not started: no version feed configured (PARLUNE_UPDATE_FEED)"),
        QStringLiteral("record drivers: 2, connected: 2"),
        QStringLiteral("(0) Microphone"),
        QStringLiteral("(1) Line In"),
        QStringLiteral("record drivers: 2, connected: 2"),
    };
    EXPECT_EQ(log, expected);

    // What the steps left behind.
    PropertyStore& p = properties();
    EXPECT_TRUE(p.get(prop::isRunning));
    EXPECT_TRUE(p.get(prop::isDspEchoBipassed));
    EXPECT_TRUE(p.get(prop::isCartoonMorph));
    EXPECT_EQ(p.get(prop::pitch), 1.0);
    // The start point is applied once: x 1.0 is on the "Log" side.
    EXPECT_EQ(p.get(prop::warp), 3);
    const QString folder = QString::fromStdString(dataFolder().string());
    EXPECT_EQ(p.get(prop::applicationPath), folder);
    EXPECT_EQ(p.get(prop::applicationPathREC), folder + "/media/recorded.wav");
    EXPECT_EQ(p.get(prop::applicationPathREC16khz), folder + "/media/recorded16khz.wav");
    EXPECT_EQ(p.get(prop::speakerPlayDevice), QStringLiteral("Speaker"));
    EXPECT_TRUE(fs::is_directory(dataFolder() / "media"));
    EXPECT_EQ(readAll(dataFolder() / "config.ini"), "Speaker");
    EXPECT_EQ(fs::file_size(dataFolder() / "favorites.dat"), 640u);

    // The frame.
    EXPECT_EQ(window.minimumSize(), QSize(1098, 727));
    EXPECT_EQ(window.maximumSize(), QSize(1098, 727));
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Parlune"));

    // What shows at start: the headset warning and the recording buttons,
    // play and export waiting for a recording; not the monitor switch, the
    // overlays or the pages' hidden parts.
    EXPECT_FALSE(child<QLabel>(window, "feedbackWarningLabel")->isHidden());
    for (const char* name : {"recordButton", "playButton", "saveWavButton"})
        EXPECT_FALSE(child<QWidget>(window, name)->isHidden()) << name;
    EXPECT_TRUE(child<QWidget>(window, "recordButton")->isEnabled());
    EXPECT_FALSE(child<QWidget>(window, "playButton")->isEnabled());
    EXPECT_FALSE(child<QWidget>(window, "saveWavButton")->isEnabled());
    for (const char* name : {"muteButton", "helpLabel", "backdrop", "nextSlideButton",
                             "prevSlideButton", "closeHelpButton", "presetsList", "favoritesList",
                             "inputCombo", "outputCombo", "savePresetButton", "favoriteSlots"})
        EXPECT_TRUE(child<QWidget>(window, name)->isHidden()) << name;
    for (const char* name : {"presetSlots", "customPlot", "label_2", "InputList", "OutputList"})
        EXPECT_FALSE(child<QWidget>(window, name)->isHidden()) << name;
    EXPECT_EQ(child<QWidget>(window, "helpLabel")->size(), QSize(1098, 727));
    EXPECT_EQ(child<QPushButton>(window, "InputList")->text(), QStringLiteral("Microphone"));
    EXPECT_EQ(child<QPushButton>(window, "OutputList")->text(), QStringLiteral("Speaker"));
    EXPECT_EQ(child<QPushButton>(window, "websiteButton")->text(), links::buttonText());
    EXPECT_EQ(child<QPushButton>(window, "setupButton")->menu()->actions().size(), 0);
}

TEST_F(MainWindowTest, VirtualDeviceStillDefaultShowsTheBoxBeforeTheRouting) {
    MainWindow window(loggingServices(/*stillDefault=*/true));
    const QStringList log = takeLog();
    const int box = log.indexOf(QStringLiteral(
        "hook: box Something is wrong / Please set your headset as default in sounds settings"));
    ASSERT_GE(box, 0) << log.join('\n').toStdString();
    EXPECT_LT(box, log.indexOf(QStringLiteral("+++++++++++++++++ PLAY")));
}

TEST_F(MainWindowTest, AStartAfterARunThatLeftTheVirtualDeviceDefaultPicksTheSpeaker) {
    // A run killed while routed leaves PARLUNE-01 the default, so it heads the
    // list; the recordings must still play on the speaker, and Looptap be told it.
    WindowServices services = loggingServices();
    services.playbackDevices = [] {
        return QStringList{QStringLiteral("PARLUNE-01 (Parlune Virtual Audio)"),
                           QStringLiteral("Speaker"), QStringLiteral("Headphones")};
    };
    MainWindow window(std::move(services));
    EXPECT_EQ(properties().get(prop::speakerPlayDevice), QStringLiteral("Speaker"));
    EXPECT_EQ(readAll(dataFolder() / "config.ini"), "Speaker");
    EXPECT_EQ(child<QPushButton>(window, "OutputList")->text(), QStringLiteral("Speaker"));
}

// Every widget of the form: kind and geometry, then the stacking order.
TEST_F(MainWindowTest, FormHoldsTheInventory) {
    MainWindow window(loggingServices());
    struct Widget {
        const char* name;
        const char* kind;
        QRect geometry;
    };
    const Widget inventory[] = {
        {"formant", "QLineEdit", {363, 280, 45, 27}},
        {"pitch", "QLineEdit", {590, 90, 41, 31}},
        {"dspButton", "QPushButton", {337, 48, 191, 27}},
        {"echoButton", "QPushButton", {936, 150, 144, 42}},
        {"reverbButton", "QPushButton", {936, 200, 144, 42}},
        {"chorusButton", "QPushButton", {936, 250, 144, 42}},
        {"distortionButton", "QPushButton", {936, 300, 144, 42}},
        {"tremoloButton", "QPushButton", {936, 350, 144, 42}},
        {"customPlot", "QCustomPlot", {405, 118, 414, 349}},
        {"matrixLabel", "QLabel", {402, 114, 497, 357}},
        {"toggleHuman", "QPushButton", {820, 114, 71, 77}},
        {"toggleCartoon", "QPushButton", {820, 190, 71, 77}},
        {"feedbackWarningLabel", "QLabel", {0, 10, 410, 340}},
        {"presetsTab", "QRadioButton", {39, 90, 125, 43}},
        {"favoritesTab", "QRadioButton", {164, 90, 126, 43}},
        {"presetSlots", "QDialogButtonBox", {38, 150, 251, 441}},
        {"favoriteSlots", "QDialogButtonBox", {38, 150, 251, 441}},
        {"label_2", "QLabel", {80, 590, 161, 41}},
        {"savePresetButton", "QPushButton", {139, 596, 150, 34}},
        {"presetsList", "QListWidget", {40, 150, 251, 441}},
        {"favoritesList", "QListWidget", {40, 150, 251, 441}},
        {"inputCombo", "QComboBox", {1090, 630, 252, 43}},
        {"outputCombo", "QComboBox", {1090, 630, 252, 43}},
        {"InputList", "QPushButton", {420, 610, 252, 43}},
        {"OutputList", "QPushButton", {750, 610, 252, 43}},
        {"recordButton", "QPushButton", {570, 466, 85, 84}},
        {"saveWavButton", "QPushButton", {510, 479, 59, 62}},
        {"playButton", "QPushButton", {656, 479, 59, 62}},
        {"muteButton", "QPushButton", {890, 520, 127, 27}},
        {"twitterButton", "QPushButton", {25, 663, 37, 37}},
        {"facebookButton", "QPushButton", {62, 663, 36, 37}},
        {"emailButton", "QPushButton", {98, 663, 36, 37}},
        {"helpButton", "QPushButton", {150, 663, 27, 37}},
        {"setupButton", "QPushButton", {190, 663, 28, 37}},
        {"soundSettingsButton", "QPushButton", {230, 663, 34, 37}},
        {"websiteButton", "QPushButton", {950, 690, 141, 31}},
        {"minimizeButton", "QPushButton", {1038, 16, 20, 15}},
        {"closeButton", "QPushButton", {1067, 16, 16, 15}},
        {"label", "QLabel", {10, 10, 47, 13}},
        {"warpText", "QLabel", {10, 30, 21, 16}},
        {"helpLabel", "QLabel", {0, 0, 1098, 727}},
        {"backdrop", "QLabel", {0, 0, 1098, 727}},
        {"nextSlideButton", "QPushButton", {1026, 340, 48, 48}},
        {"prevSlideButton", "QPushButton", {24, 340, 48, 48}},
        {"closeHelpButton", "QPushButton", {1042, 52, 32, 32}},
    };
    for (const Widget& w : inventory) {
        QWidget* widget = child<QWidget>(window, w.name);
        if (!widget) continue;
        EXPECT_STREQ(widget->metaObject()->className(), w.kind) << w.name;
        EXPECT_EQ(widget->geometry(), w.geometry) << w.name;
    }
    // Flat with the pointing hand, except the four the design leaves plain.
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->parent() != window.centralWidget()) continue;
        const QString name = button->objectName();
        const bool plain = name == "closeButton" || name == "minimizeButton" ||
                           name == "InputList" || name == "OutputList";
        const bool slides =
            name == "nextSlideButton" || name == "prevSlideButton" || name == "closeHelpButton";
        EXPECT_EQ(button->isFlat(), !plain && !slides) << name.toStdString();
        EXPECT_EQ(button->cursor().shape() == Qt::PointingHandCursor, !plain) << name.toStdString();
    }
    EXPECT_TRUE(child<QPushButton>(window, "dspButton")->isChecked());
    EXPECT_TRUE(child<QPushButton>(window, "muteButton")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(window, "presetsTab")->isChecked());
    // The start point applied: formant 1.5, not the form's "1.00".
    EXPECT_EQ(child<QLineEdit>(window, "formant")->text(), QStringLiteral("1.50"));
    EXPECT_EQ(child<QLineEdit>(window, "pitch")->maxLength(), 4);
    EXPECT_EQ(child<QPushButton>(window, "distortionButton")->text(), QStringLiteral("DISTORTION"));
    EXPECT_EQ(child<QLabel>(window, "label")->text(), QStringLiteral("2.2.0.0"));

    // Bottom to top. The headset warning lies on top while it shows, then
    // lowest, where the form puts it.
    const auto stackingNow = [&window] {
        QStringList names;
        for (QObject* object : window.centralWidget()->children())
            if (object->isWidgetType()) names << object->objectName();
        return names;
    };
    EXPECT_EQ(stackingNow().last(), QStringLiteral("feedbackWarningLabel"));
    QMetaObject::invokeMethod(&window, "hideWarningLabel");
    const QStringList stacking = stackingNow();
    const QStringList expected =
        QStringLiteral(
            "feedbackWarningLabel tremoloButton chorusButton distortionButton formant pitch "
            "matrixLabel dspButton reverbButton echoButton customPlot presetsList presetsTab "
            "favoritesTab toggleHuman toggleCartoon inputCombo websiteButton savePresetButton "
            "twitterButton facebookButton emailButton helpButton recordButton saveWavButton "
            "playButton outputCombo minimizeButton favoritesList setupButton presetSlots InputList "
            "OutputList favoriteSlots closeButton backdrop label warpText muteButton "
            "soundSettingsButton label_2 helpLabel nextSlideButton prevSlideButton "
            "closeHelpButton")
            .split(' ');
    EXPECT_EQ(stacking, expected);

    // The whole tree paints, style sheets and plot included.
    EXPECT_EQ(window.grab().size(), QSize(1098, 727));
}

TEST_F(MainWindowTest, DragStripMovesTheWindowWithTheCursor) {
    MainWindow window(loggingServices());
    struct Case {
        QPoint press;
        bool drags;
    };
    const Case cases[] = {
        {{0, 0}, true},     {{1037, 42}, true},  {{1038, 42}, false},
        {{500, 43}, false}, {{1070, 20}, false}, {{600, 400}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            QStringLiteral("press at %1,%2").arg(c.press.x()).arg(c.press.y()).toStdString());
        window.move(100, 100);
        const QPoint start = window.pos();
        const QPoint global = window.mapToGlobal(c.press);
        const QPoint by(30, 20);
        QMouseEvent press(QEvent::MouseButtonPress, c.press, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent drag(QEvent::MouseMove, c.press + by, global + by, Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, c.press + by, global + by, Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &press);
        QApplication::sendEvent(&window, &drag);
        EXPECT_EQ(window.pos(), c.drags ? start + by : start);
        QApplication::sendEvent(&window, &release);
        // After the release a move no longer drags.
        QMouseEvent after(QEvent::MouseMove, c.press, global + by + by, Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
        const QPoint released = window.pos();
        QApplication::sendEvent(&window, &after);
        EXPECT_EQ(window.pos(), released);
    }
}

TEST_F(MainWindowTest, SystemCloseRestoresThePlaybackDevice) {
    MainWindow window(loggingServices());
    window.show();
    takeLog();
    EXPECT_TRUE(window.close());
    EXPECT_EQ(takeLog(), QStringList({QStringLiteral("closeEvent......"),
                                      QStringLiteral("hook: stopQuibRestore")}));
}

TEST_F(MainWindowTest, CloseButtonQuitsWithoutACloseEvent) {
    MainWindow window(loggingServices());
    window.show();
    takeLog();
    QTimer::singleShot(0, [&] { child<QPushButton>(window, "closeButton")->click(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(3); });  // never hang
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(takeLog(), QStringList());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindowTest, HelpSlidesAndSetupMenuDriveTheOverlay) {
    MainWindow window(loggingServices());
    auto* helpLabel = child<QLabel>(window, "helpLabel");
    auto* plot = child<QWidget>(window, "customPlot");
    auto* next = child<QPushButton>(window, "nextSlideButton");
    auto* prev = child<QPushButton>(window, "prevSlideButton");
    auto* close = child<QPushButton>(window, "closeHelpButton");

    child<QPushButton>(window, "helpButton")->click();
    for (int i = 0; i < 3; ++i) next->click();
    EXPECT_EQ(window.helpSlideIndex(), 3);
    EXPECT_FALSE(helpLabel->isHidden());
    EXPECT_TRUE(plot->isHidden());
    EXPECT_TRUE(next->isHidden());
    EXPECT_FALSE(prev->isHidden());
    EXPECT_FALSE(close->isHidden());
    close->click();
    EXPECT_EQ(window.helpSlideIndex(), 0);
    EXPECT_TRUE(helpLabel->isHidden());
    EXPECT_FALSE(plot->isHidden());
    EXPECT_TRUE(prev->isHidden() && next->isHidden() && close->isHidden());

    // A close with no picture up takes the backdrop down.
    auto* backdrop = child<QLabel>(window, "backdrop");
    window.show();
    backdrop->show();
    close->show();
    close->click();
    EXPECT_TRUE(backdrop->isHidden());
    EXPECT_TRUE(close->isHidden());

    // The how-to menu: the setup menu runs over the how-to picture; choosing
    // an entry opens the how-it-works page and the picture stays.
    takeLog();
    QTimer::singleShot(0, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* action : menu->actions())
            if (action->text() == QLatin1String("Ventrilo")) action->trigger();
        menu->close();
    });
    window.openHowTo();
    EXPECT_EQ(takeLog(), QStringList({QStringLiteral("hook: openUrl ") + links::howItWorksPage()}));
    EXPECT_FALSE(helpLabel->isHidden());
    EXPECT_TRUE(plot->isHidden());
    EXPECT_FALSE(close->isHidden());
    EXPECT_TRUE(next->isHidden() && prev->isHidden());
    close->click();
    EXPECT_TRUE(helpLabel->isHidden());

    child<QPushButton>(window, "soundSettingsButton")->click();
    EXPECT_EQ(takeLog(), QStringList({QStringLiteral("hook: openSoundControlPanel")}));
}

// readFile on whatever favorites.dat holds: it never fails, and the slots the
// file does not cover keep their defaults.
TEST_F(MainWindowTest, ReadFileTakesAnyFavoritesContent) {
    MainWindow window(loggingServices());
    favorites::Record robot = favorites::defaultTable()[0];
    favorites::setName(robot, "Robot");
    robot.padX = 1.4;
    robot.padY = 2.0;
    robot.cartoon = 1;
    const std::string robotBytes(reinterpret_cast<const char*>(&robot), sizeof robot);
    std::string eightRobots;
    for (int i = 0; i < favorites::kSlotCount; ++i) eightRobots += robotBytes;
    favorites::Record noNul = robot;
    std::memset(noNul.name, 'x', favorites::kNameBytes);
    favorites::Record badUtf8 = robot;
    std::memcpy(badUtf8.name,
                "a\xff\xfe"
                "b",
                5);
    std::mt19937 random(9);
    std::string noise(640, '\0');
    for (char& c : noise) c = static_cast<char>(random());

    struct Case {
        const char* what;
        bool present;
        std::string bytes;
        bool result;
        int covered;    // whole records the file holds (at most 8)
        QString name0;  // slot 0's name when covered; empty: any name
    };
    const std::string one = robotBytes;
    const Case cases[] = {
        {"missing", false, "", false, 0, {}},
        {"empty", true, "", true, 0, {}},
        {"100 bytes", true, one + std::string(20, 'y'), true, 1, "Robot"},
        {"640 bytes", true, eightRobots, true, 8, "Robot"},
        {"700 bytes", true, eightRobots + std::string(60, 'z'), true, 8, "Robot"},
        {"a name with no NUL", true, std::string(reinterpret_cast<const char*>(&noNul), 80), true,
         1, QString(55, 'x')},
        {"invalid UTF-8", true, std::string(reinterpret_cast<const char*>(&badUtf8), 80), true, 1,
         QStringLiteral("a\uFFFD\uFFFDb")},
        {"random bytes", true, noise, true, 8, {}},
    };
    const fs::path file = *root_ / "favorites-case.dat";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(file);
        if (c.present) writeAll(file, c.bytes);
        EXPECT_EQ(window.readFile(file.c_str()), c.result);
        for (int slot = 0; slot < favorites::kSlotCount; ++slot) {
            SCOPED_TRACE(slot);
            const favorites::Record& record = window.favoriteTable()[static_cast<size_t>(slot)];
            const QString name = window.favoriteName(slot);
            // Whatever the bytes, the name stays within its field.
            EXPECT_LE(favorites::nameOf(record).size(), 55u);
            EXPECT_LE(name.size(), 55);
            if (slot >= c.covered) {
                EXPECT_EQ(name, QStringLiteral("-"));
                EXPECT_EQ(record.padX, 1.0);
                EXPECT_EQ(record.padY, 0.0);
                EXPECT_EQ(record.cartoon, 0);
            } else if (!c.name0.isEmpty()) {
                EXPECT_EQ(name, slot == 0 ? c.name0 : QStringLiteral("Robot"));
                EXPECT_EQ(record.padX, 1.4);
                EXPECT_EQ(record.padY, 2.0);
                EXPECT_EQ(record.cartoon, 1);
            }
        }
        // A missing file is created with the defaults.
        if (!c.present) {
            EXPECT_EQ(readAll(file).size(), 640u);
        }
    }
}

// The real live chain on the in-process backend, stopped the way the entry
// point stops it.
TEST_F(MainWindowTest, LiveChainStartsOnThePoolAndStopsOnTheFlag) {
    WindowServices services = loggingServices();
    services.startLiveChain = WindowServices::system().startLiveChain;
    const uint64_t runsBefore = engine::liveChainStatus().runs;
    {
        MainWindow window(services);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (engine::liveChainStatus().activeRuns == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(engine::liveChainStatus().runs, runsBefore + 1);
        EXPECT_EQ(engine::liveChainStatus().activeRuns, 1);
        properties().set(prop::isRunning, false);
        EXPECT_TRUE(engine::waitForLiveChainIdle(1000));
    }
    EXPECT_TRUE(takeLog().contains(QStringLiteral("RunFmodFunction starts.................")));
}

}  // namespace
}  // namespace parlune::app
