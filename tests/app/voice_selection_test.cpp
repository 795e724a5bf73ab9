// The voice selection controls of the window, offscreen with the routing and
// the engine runs replaced by hooks: the pad, the presets, the favorites, the
// effect switches, the recording controls and the device menus.
#include <QAbstractButton>
#include <QAction>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <vector>

#include "app/core/favorites_file.h"
#include "tests/app/window_fixture.h"

namespace parlune::app {
namespace {

class VoiceSelectionTest : public MainWindowTest {
protected:
    static QCustomPlot* plot(MainWindow& w) { return child<QCustomPlot>(w, "customPlot"); }
    static QString text(MainWindow& w, const char* field) {
        return child<QLineEdit>(w, field)->text();
    }

    // A mouse event on the pad at a point given in pad coordinates (or a pixel).
    static void padEvent(MainWindow& w, QEvent::Type type, QPoint pixel,
                         Qt::MouseButton button = Qt::LeftButton) {
        QCustomPlot* p = plot(w);
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
        QMouseEvent event(type, pixel, p->mapToGlobal(pixel), button, held, Qt::NoModifier);
        QApplication::sendEvent(p, &event);
    }
    static QPoint pixelOf(MainWindow& w, double x, double y) {
        return QPoint(qRound(plot(w)->xAxis->coordToPixel(x)),
                      qRound(plot(w)->yAxis->coordToPixel(y)));
    }

    static void typeInto(MainWindow& w, const char* field, const QString& value) {
        QLineEdit* edit = child<QLineEdit>(w, field);
        edit->setText(value);
        edit->setModified(true);  // as typing leaves it
        emit edit->editingFinished();
    }

    static QList<QAbstractButton*> slotButtons(MainWindow& w, const char* box) {
        return child<QDialogButtonBox>(w, box)->buttons();
    }

    // A double click as the window's filter sees it, `dy` pixels below the
    // button's top edge.
    static void doubleClick(MainWindow& w, QAbstractButton* button, int dy = 10) {
        button->setChecked(true);
        const QPoint local(20, dy);
        QMouseEvent event(QEvent::MouseButtonDblClick, local, button->mapToGlobal(local),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(button, &event);
        (void)w;
    }

    static void click(MainWindow& w, const char* name) { child<QPushButton>(w, name)->click(); }

    // A window on screen, so the slot boxes have laid out their buttons.
    struct Shown {
        explicit Shown(WindowServices services = loggingServices()) : window(std::move(services)) {
            window.show();
            QCoreApplication::processEvents();
            takeLog();
        }
        MainWindow window;
    };
};

// --- The pad -------------------------------------------------------------

TEST_F(VoiceSelectionTest, StartPointIsAppliedSoCursorFieldsAndPropertiesAgree) {
    Shown s;
    EXPECT_EQ(text(s.window, "pitch"), QStringLiteral("1.00"));
    EXPECT_EQ(text(s.window, "formant"), QStringLiteral("1.50"));
    EXPECT_EQ(properties().get(prop::formant), 1.5);
    EXPECT_EQ(child<QLabel>(s.window, "warpText")->text(), QStringLiteral("Log"));
    EXPECT_EQ(plot(s.window)->yAxis->range().lower, -0.5);
    EXPECT_EQ(plot(s.window)->yAxis->range().upper, 2.5);
}

// Each case starts in the mode given, then acts on the pad or its fields.
TEST_F(VoiceSelectionTest, PadCases) {
    struct Case {
        const char* name;
        bool human;
        std::function<void(MainWindow&)> act;
        double pitch, formant;
        const char* pitchText;
        const char* formantText;
        double within = 1e-12;  // a press lands on a pixel of the pad
    };
    using W = MainWindow;
    constexpr double kPixel = 0.01;
    const std::vector<Case> cases = {
        {"press at 0.7 gives pitch 0.85", false,
         [](W& w) {
             padEvent(w, QEvent::MouseButtonPress, pixelOf(w, 0.7, 1.0));
             padEvent(w, QEvent::MouseButtonRelease, pixelOf(w, 0.7, 1.0));
         },
         0.85, 1.0, "0.85", "1.00", kPixel},
        {"drag beyond the top right stays on the edge", false,
         [](W& w) {
             padEvent(w, QEvent::MouseButtonPress, pixelOf(w, 1.4, 1.0));
             padEvent(w, QEvent::MouseMove, pixelOf(w, 2.5, 4.0));
             padEvent(w, QEvent::MouseButtonRelease, pixelOf(w, 3.0, 5.0));
         },
         1.7, 2.5, "1.70", "2.50"},
        {"drag beyond the bottom left in human mode", true,
         [](W& w) {
             padEvent(w, QEvent::MouseButtonPress, pixelOf(w, 1.0, 1.0));
             padEvent(w, QEvent::MouseMove, pixelOf(w, -1.0, 0.0));
             padEvent(w, QEvent::MouseButtonRelease, pixelOf(w, -1.0, 0.0));
         },
         0.65, 0.8, "0.65", "0.80"},
        {"typed formant 0.0 in cartoon mode becomes 0.1", false,
         [](W& w) { typeInto(w, "formant", QStringLiteral("0")); }, 1.0, 0.1, "1.00", "0.10"},
        {"typed formant 0.0 in human mode is clamped to 0.8", true,
         [](W& w) { typeInto(w, "formant", QStringLiteral("0")); }, 1.0, 0.8, "1.00", "0.80"},
        {"a negative formant is written whole, shown in four characters", false,
         [](W& w) { typeInto(w, "formant", QStringLiteral("-.25")); }, 1.0, -0.25, "1.00", "-0.2"},
        {"typed pitch 0.5 is the pad coordinate", false,
         [](W& w) { typeInto(w, "pitch", QStringLiteral("0.5")); }, 0.75, 1.5, "0.75", "1.50"},
        {"typed text that is no number goes to the left edge", false,
         [](W& w) { typeInto(w, "pitch", QStringLiteral("ab")); }, 0.65, 1.5, "0.65", "1.50"},
        {"leaving the pitch field without typing keeps the point", false,
         [](W& w) {
             typeInto(w, "pitch", QStringLiteral("0.7"));  // shows 0.85
             emit child<QLineEdit>(w, "pitch")->editingFinished();
         },
         0.85, 1.5, "0.85", "1.50"},
        {"a right press does nothing", false,
         [](W& w) {
             padEvent(w, QEvent::MouseButtonPress, pixelOf(w, 0.5, 0.0), Qt::RightButton);
             padEvent(w, QEvent::MouseMove, pixelOf(w, 0.6, 0.0), Qt::RightButton);
         },
         1.0, 1.5, "1.00", "1.50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shown s;
        if (c.human) {
            click(s.window, "toggleHuman");
            typeInto(s.window, "formant", QStringLiteral("1.0"));
        }
        c.act(s.window);
        EXPECT_NEAR(properties().get(prop::pitch), c.pitch, c.within);
        EXPECT_NEAR(properties().get(prop::formant), c.formant, c.within);
        EXPECT_EQ(text(s.window, "pitch"), QString::fromLatin1(c.pitchText));
        EXPECT_EQ(text(s.window, "formant"), QString::fromLatin1(c.formantText));
        EXPECT_FALSE(s.window.padDragging());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(VoiceSelectionTest, PressOnEmptySpaceHidesThePointerPressOnTheCursorDoesNotJump) {
    Shown s;
    padEvent(s.window, QEvent::MouseButtonPress, pixelOf(s.window, 0.5, 0.5));
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BlankCursor);
    EXPECT_NEAR(s.window.padX(), 0.5, 0.01);
    padEvent(s.window, QEvent::MouseButtonRelease, pixelOf(s.window, 0.5, 0.5));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The cursor picture's centre: picked up where it is, pointer kept.
    const double x = s.window.padX(), y = s.window.padY();
    padEvent(s.window, QEvent::MouseButtonPress, pixelOf(s.window, x, y));
    EXPECT_TRUE(s.window.padDragging());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(s.window.padX(), x);
    EXPECT_EQ(s.window.padY(), y);
    padEvent(s.window, QEvent::MouseMove, pixelOf(s.window, 1.2, 2.0));
    EXPECT_NEAR(s.window.padX(), 1.2, 0.01);
    padEvent(s.window, QEvent::MouseButtonRelease, pixelOf(s.window, 1.2, 2.0));
    EXPECT_FALSE(s.window.padDragging());
}

TEST_F(VoiceSelectionTest, WarpTurnsAtPadX086) {
    Shown s;
    QCustomPlot* p = plot(s.window);
    // The last pixel left of 0.86 and the first at or right of it.
    int pixel = 0;
    while (p->xAxis->pixelToCoord(pixel + 1) < 0.86) ++pixel;
    const int y = pixelOf(s.window, 1.0, 1.0).y();
    padEvent(s.window, QEvent::MouseButtonPress, QPoint(pixel, y));
    EXPECT_EQ(properties().get(prop::warp), 1);
    EXPECT_EQ(child<QLabel>(s.window, "warpText")->text(), QStringLiteral("Sig"));
    padEvent(s.window, QEvent::MouseMove, QPoint(pixel + 1, y));
    EXPECT_EQ(properties().get(prop::warp), 3);
    EXPECT_EQ(child<QLabel>(s.window, "warpText")->text(), QStringLiteral("Log"));
    padEvent(s.window, QEvent::MouseButtonRelease, QPoint(pixel + 1, y));
}

TEST_F(VoiceSelectionTest, ModeSwitchRemapsTheHeightOnlyWhenTheModeChanges) {
    Shown s;
    click(s.window, "toggleHuman");
    typeInto(s.window, "formant", QStringLiteral("1.0"));  // the human middle
    EXPECT_FALSE(properties().get(prop::isCartoonMorph));
    EXPECT_EQ(plot(s.window)->yAxis->range().lower, 0.8);
    EXPECT_FALSE(s.window.toggledCartoon());

    click(s.window, "toggleCartoon");
    EXPECT_TRUE(properties().get(prop::isCartoonMorph));
    EXPECT_TRUE(s.window.toggledCartoon());
    EXPECT_NEAR(s.window.padY(), 1.0, 1e-12);  // the cartoon middle
    EXPECT_EQ(plot(s.window)->yAxis->range().upper, 2.5);
    EXPECT_TRUE(child<QLineEdit>(s.window, "pitch")->styleSheet().contains("#159D8C"));

    typeInto(s.window, "formant", QStringLiteral("2.5"));
    click(s.window, "toggleCartoon");  // already cartoon: no remap
    EXPECT_NEAR(s.window.padY(), 2.5, 1e-12);
    click(s.window, "toggleHuman");
    EXPECT_NEAR(s.window.padY(), 1.2, 1e-12);
    EXPECT_NEAR(properties().get(prop::formant), 1.2, 1e-12);
    EXPECT_TRUE(child<QLineEdit>(s.window, "formant")->styleSheet().contains("#3c5d8e"));
}

// --- Presets -------------------------------------------------------------

TEST_F(VoiceSelectionTest, EachPresetAppliesItsVoice) {
    struct Case {
        const char* name;
        bool cartoon;
        double pitch, formant;
        int warp;
        const char* pitchText;
        const char* formantText;
    };
    const Case cases[] = {
        {"DAVID", false, 0.85, 0.85, 1, "0.85", "0.85"},
        {"JOHN", false, 0.835, 1.07, 1, "0.83", "1.07"},
        {"ALICE", false, 1.4, 1.15, 3, "1.40", "1.15"},
        {"EMILY", false, 1.5, 0.9, 3, "1.50", "0.90"},
        {"GOBLIN", true, 1.4, 0.75, 3, "1.40", "0.75"},
        {"MEERKAT", true, 1.67, 0.1, 3, "1.67", "0.10"},
        {"ROBOT", true, 0.85, 2.0, 1, "0.85", "2.00"},
        {"ALIEN", true, 0.9, 0.4, 1, "0.90", "0.40"},
    };
    Shown s;
    const QList<QAbstractButton*> buttons = slotButtons(s.window, "presetSlots");
    ASSERT_EQ(buttons.size(), 8);
    for (int i = 0; i < 8; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        // Start from the other mode, so the mode change shows.
        click(s.window, c.cartoon ? "toggleHuman" : "toggleCartoon");
        EXPECT_EQ(buttons[i]->text(), QString::fromLatin1(c.name));
        doubleClick(s.window, buttons[i]);
        EXPECT_EQ(properties().get(prop::isCartoonMorph), c.cartoon);
        EXPECT_NEAR(properties().get(prop::pitch), c.pitch, 1e-12);
        EXPECT_NEAR(properties().get(prop::formant), c.formant, 1e-12);
        EXPECT_EQ(properties().get(prop::warp), c.warp);
        EXPECT_EQ(text(s.window, "pitch"), QString::fromLatin1(c.pitchText));
        EXPECT_EQ(text(s.window, "formant"), QString::fromLatin1(c.formantText));
        EXPECT_EQ(child<QLabel>(s.window, "warpText")->text(),
                  c.warp == 3 ? QStringLiteral("Log") : QStringLiteral("Sig"));
        EXPECT_EQ(plot(s.window)->yAxis->range().upper, c.cartoon ? 2.5 : 1.2);
        EXPECT_TRUE(buttons[i]->styleSheet().contains("#50a0ad"));
        for (int j = 0; j < 8; ++j) {
            if (j == i) continue;
            EXPECT_FALSE(buttons[j]->styleSheet().contains("#50a0ad")) << j;
        }
    }
    // The mode buttons' memory is the mode buttons' own.
    EXPECT_FALSE(s.window.toggledCartoon());
}

TEST_F(VoiceSelectionTest, DoubleClicksThatMustNotApplyAPreset) {
    Shown s;
    const QList<QAbstractButton*> presets = slotButtons(s.window, "presetSlots");
    const double pitchBefore = properties().get(prop::pitch);
    // The bottom 8 pixels of ROBOT do not count, but the click is consumed
    // and the fields are refreshed.
    child<QLineEdit>(s.window, "pitch")->setText(QStringLiteral("x"));
    doubleClick(s.window, presets[6], presets[6]->height() - 4);
    EXPECT_EQ(properties().get(prop::pitch), pitchBefore);
    EXPECT_EQ(text(s.window, "pitch"), QStringLiteral("1.00"));
    EXPECT_FALSE(presets[6]->styleSheet().contains("#50a0ad"));

    // On the favorites page a preset button's place applies nothing.
    child<QRadioButton>(s.window, "favoritesTab")->setChecked(true);
    EXPECT_TRUE(child<QWidget>(s.window, "presetSlots")->isHidden());
    EXPECT_FALSE(child<QWidget>(s.window, "savePresetButton")->isHidden());
    EXPECT_TRUE(child<QWidget>(s.window, "label_2")->isHidden());
    doubleClick(s.window, presets[6]);
    EXPECT_EQ(properties().get(prop::pitch), pitchBefore);
    child<QRadioButton>(s.window, "presetsTab")->setChecked(true);
    EXPECT_TRUE(child<QWidget>(s.window, "favoriteSlots")->isHidden());
    EXPECT_FALSE(child<QWidget>(s.window, "label_2")->isHidden());
}

// --- Favorites -----------------------------------------------------------

TEST_F(VoiceSelectionTest, FavoritesSaveAndComeBackInTheirMode) {
    std::string typed;
    WindowServices services = loggingServices();
    services.execDialog = [&typed](QDialog& dialog) {
        note(QStringLiteral("hook: dialog ") + dialog.windowTitle());
        auto* input = qobject_cast<QInputDialog*>(&dialog);
        if (!input) return static_cast<int>(QDialog::Accepted);
        if (typed.empty()) return static_cast<int>(QDialog::Rejected);
        input->setTextValue(QString::fromStdString(typed));
        return static_cast<int>(QDialog::Accepted);
    };
    fs::remove(dataFolder() / "favorites.dat");
    Shown s(services);
    const fs::path file = dataFolder() / "favorites.dat";
    const std::string defaults = readAll(file);
    ASSERT_EQ(defaults.size(), 640u);

    // No slot checked: the box, and nothing written.
    child<QRadioButton>(s.window, "favoritesTab")->setChecked(true);
    click(s.window, "savePresetButton");
    EXPECT_TRUE(takeLog().contains(QStringLiteral("hook: dialog Error")));
    EXPECT_EQ(readAll(file), defaults);

    // A cancelled name dialog changes nothing.
    slotButtons(s.window, "favoriteSlots")[2]->setChecked(true);
    click(s.window, "savePresetButton");
    EXPECT_TRUE(takeLog().contains(QStringLiteral("hook: dialog Save Favorite")));
    EXPECT_EQ(readAll(file), defaults);
    EXPECT_TRUE(child<QWidget>(s.window, "backdrop")->isHidden());

    // A cartoon voice after a preset (the mode buttons untouched) into slot 2,
    // a human one into slot 5.
    s.window.updatePresetParams(6);  // ROBOT
    typed = "Robot mine";
    slotButtons(s.window, "favoriteSlots")[2]->setChecked(true);
    click(s.window, "savePresetButton");
    s.window.updatePresetParams(2);  // ALICE
    typed = "Alice mine";
    slotButtons(s.window, "favoriteSlots")[5]->setChecked(true);
    click(s.window, "savePresetButton");

    favorites::Table stored{};
    const std::string bytes = readAll(file);
    ASSERT_EQ(bytes.size(), 640u);
    std::memcpy(stored.data(), bytes.data(), 640);
    EXPECT_EQ(favorites::nameOf(stored[2]), "Robot mine");
    EXPECT_EQ(stored[2].cartoon, 1);
    EXPECT_EQ(stored[2].padY, 2.0);
    EXPECT_EQ(favorites::nameOf(stored[5]), "Alice mine");
    EXPECT_EQ(stored[5].cartoon, 0);
    const QList<QAbstractButton*> favs = slotButtons(s.window, "favoriteSlots");
    ASSERT_EQ(favs.size(), 8);
    EXPECT_EQ(favs[2]->text(), QStringLiteral("Robot mine"));
    for (QAbstractButton* b : favs) EXPECT_FALSE(b->isChecked());

    // Re-applied from the other mode, each comes back as it was.
    s.window.updatePresetParams(0);  // DAVID, human
    doubleClick(s.window, favs[2]);
    EXPECT_TRUE(properties().get(prop::isCartoonMorph));
    EXPECT_EQ(properties().get(prop::formant), 2.0);
    EXPECT_NEAR(properties().get(prop::pitch), 0.85, 1e-12);
    EXPECT_TRUE(favs[2]->styleSheet().contains("#50a0ad"));
    for (QAbstractButton* b : slotButtons(s.window, "presetSlots"))
        EXPECT_FALSE(b->styleSheet().contains("#50a0ad"));
    doubleClick(s.window, favs[5]);
    EXPECT_FALSE(properties().get(prop::isCartoonMorph));
    EXPECT_NEAR(properties().get(prop::formant), 1.15, 1e-12);
    EXPECT_NEAR(properties().get(prop::pitch), 1.4, 1e-12);

    // A default slot: human, (1.0, 0.0) held to (1.0, 0.8).
    doubleClick(s.window, favs[0]);
    EXPECT_FALSE(properties().get(prop::isCartoonMorph));
    EXPECT_EQ(properties().get(prop::formant), 0.8);
    EXPECT_EQ(properties().get(prop::pitch), 1.0);
}

TEST_F(VoiceSelectionTest, NameFieldRefusesMoreThan55Bytes) {
    QString accepted, refused;
    WindowServices services = loggingServices();
    services.execDialog = [&](QDialog& dialog) {
        auto* field = dialog.findChild<QLineEdit*>();
        if (!field) return static_cast<int>(QDialog::Rejected);
        field->clear();
        field->insert(QString(27, QChar(0x00e9)));  // 54 bytes
        accepted = field->text();
        field->insert(QStringLiteral("\u00e9"));  // would be 56
        refused = field->text();
        return static_cast<int>(QDialog::Rejected);
    };
    Shown s(services);
    child<QRadioButton>(s.window, "favoritesTab")->setChecked(true);
    slotButtons(s.window, "favoriteSlots")[0]->setChecked(true);
    click(s.window, "savePresetButton");
    EXPECT_EQ(accepted.size(), 27);
    EXPECT_EQ(refused, accepted);
}

// --- Effects and recording -----------------------------------------------

TEST_F(VoiceSelectionTest, EffectButtonsWriteTheirSwitches) {
    struct Case {
        const char* button;
        Key<bool> key;
        bool whenOn;
    };
    const Case cases[] = {
        {"echoButton", prop::isDspEchoBipassed, false},
        {"chorusButton", prop::isDspChorusBipassed, false},
        {"distortionButton", prop::isDspDistortionBipassed, false},
        {"tremoloButton", prop::isDspTremoloBipassed, false},
        {"reverbButton", prop::isReverb, true},
        {"dspButton", prop::isDspBipassed, false},
    };
    Shown s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        QPushButton* b = child<QPushButton>(s.window, c.button);
        const bool startsOn = b->isChecked();
        if (startsOn) b->click();  // the morph switch starts on
        b->click();
        EXPECT_TRUE(b->isChecked());
        EXPECT_EQ(properties().get(c.key), c.whenOn);
        b->click();
        EXPECT_EQ(properties().get(c.key), !c.whenOn);
        if (startsOn) b->click();
    }
}

TEST_F(VoiceSelectionTest, RecordingCountsDownAndEndsByItself) {
    Shown s;
    writeAll(properties().get(prop::applicationPathREC).toStdString(), "raw");
    QPushButton* record = child<QPushButton>(s.window, "recordButton");
    properties().set(prop::isDspBipassed, false);
    record->click();
    EXPECT_TRUE(properties().get(prop::isDspBipassed));
    EXPECT_EQ(record->text(), QStringLiteral("30"));
    EXPECT_FALSE(child<QWidget>(s.window, "playButton")->isEnabled());

    // Read after each tick: the window's own slot runs first.
    QStringList shown{record->text()};
    QObject::connect(child<QTimer>(s.window, "recordTimer"), &QTimer::timeout, [&] {
        if (!record->text().isEmpty() && shown.last() != record->text()) shown << record->text();
    });
    ASSERT_TRUE(waitUntil([&] { return !record->isChecked(); }));
    ASSERT_TRUE(waitUntil([&] { return !s.window.busy(); }));
    EXPECT_EQ(shown.first(), QStringLiteral("30"));
    EXPECT_EQ(shown.last(), QStringLiteral("1"));
    EXPECT_EQ(shown.size(), 30);
    EXPECT_EQ(record->text(), QString());
    EXPECT_EQ(s.window.recordCountdown(), 30);
    EXPECT_FALSE(properties().get(prop::isDspBipassed));
    EXPECT_TRUE(properties().get(prop::isRunning));
    EXPECT_TRUE(child<QWidget>(s.window, "playButton")->isEnabled());
    EXPECT_TRUE(child<QWidget>(s.window, "saveWavButton")->isEnabled());

    QStringList log = takeLog();
    log = log.filter(QRegularExpression("^hook: (stop|start|convert|pause)"));
    const QStringList expected = {"hook: stopQuib",       "hook: startRecordQuib",
                                  "hook: stopRecordQuib", "hook: convert",
                                  "hook: pause 200",      "hook: pause 200",
                                  "hook: startQuib",      "hook: startLiveChain isRunning=1"};
    EXPECT_EQ(log, expected);
}

TEST_F(VoiceSelectionTest, EarlyStopWithTheMorphOffKeepsItOffAndResetsTheCount) {
    WindowServices services = loggingServices();
    services.recordTickMs = 2;
    Shown s(services);
    fs::remove(properties().get(prop::applicationPathREC).toStdString());
    QPushButton* record = child<QPushButton>(s.window, "recordButton");
    child<QPushButton>(s.window, "dspButton")->click();  // morph off
    ASSERT_TRUE(properties().get(prop::isDspBipassed));
    // Stopped by hand when the button shows 17.
    QString stoppedAt;
    QObject::connect(child<QTimer>(s.window, "recordTimer"), &QTimer::timeout, [&] {
        if (record->isChecked() && record->text() == QStringLiteral("17")) {
            stoppedAt = record->text();
            record->click();
        }
    });
    record->click();
    ASSERT_TRUE(waitUntil([&] { return !record->isChecked(); }));
    ASSERT_TRUE(waitUntil([&] { return !s.window.busy(); }));
    EXPECT_EQ(stoppedAt, QStringLiteral("17"));
    EXPECT_EQ(s.window.recordCountdown(), 30);
    EXPECT_TRUE(properties().get(prop::isDspBipassed));
    // No raw file: no conversion.
    EXPECT_FALSE(takeLog().contains(QStringLiteral("hook: convert")));
    record->click();
    EXPECT_EQ(record->text(), QStringLiteral("30"));
    record->click();
    waitUntil([&] { return !s.window.busy(); });
}

TEST_F(VoiceSelectionTest, PlayWaitsForARecordingAndIgnoresASecondPress) {
    std::atomic<bool> release{false};
    WindowServices services = loggingServices();
    services.playRecording = [&release] {
        note(QStringLiteral("hook: play"));
        while (!release) QThread::msleep(2);
    };
    Shown s(services);
    const std::string converted = properties().get(prop::applicationPathREC16khz).toStdString();
    fs::remove(converted);
    QPushButton* play = child<QPushButton>(s.window, "playButton");
    QPushButton* record = child<QPushButton>(s.window, "recordButton");

    s.window.on_playButton_clicked();
    EXPECT_TRUE(takeLog().contains(QStringLiteral("File does not exist")));
    EXPECT_TRUE(record->isEnabled());
    EXPECT_FALSE(play->isEnabled());

    writeAll(converted, "16k");
    record->click();
    record->click();
    ASSERT_TRUE(waitUntil([&] { return !s.window.busy() && play->isEnabled(); }));
    takeLog();
    play->click();
    EXPECT_FALSE(properties().get(prop::isRunning));
    EXPECT_FALSE(record->isEnabled());
    EXPECT_FALSE(play->isEnabled());
    play->click();  // disabled: ignored
    ASSERT_TRUE(waitUntil([] { return takeLogPeek().contains(QStringLiteral("hook: play")); }));
    release = true;
    ASSERT_TRUE(waitUntil([&] { return record->isEnabled() && !s.window.busy(); }));
    const QStringList log = takeLog().filter(QRegularExpression("^hook|PLAY"));
    const QStringList expected = {"***************PLAY BUTTON PRESSED!!********************* ",
                                  "hook: stopQuibRestore",
                                  "hook: play",
                                  "hook: startQuibDefault",
                                  "hook: startLiveChain isRunning=1",
                                  "***************PLAY ENDED!!********************* "};
    EXPECT_EQ(log, expected);
    EXPECT_TRUE(play->isEnabled());
    EXPECT_TRUE(properties().get(prop::isRunning));
}

TEST_F(VoiceSelectionTest, ExportGoesToTheChosenFile) {
    QString chosen;
    WindowServices services = loggingServices();
    services.askExportFileName = [&chosen](QWidget*) { return chosen; };
    Shown s(services);
    writeAll(properties().get(prop::applicationPathREC16khz).toStdString(), "16k");
    QPushButton* record = child<QPushButton>(s.window, "recordButton");
    record->click();
    record->click();
    ASSERT_TRUE(waitUntil([&] { return !s.window.busy(); }));
    properties().set(prop::fname, QStringLiteral("before"));
    takeLog();

    s.window.on_saveWavButton_clicked();  // cancelled
    EXPECT_EQ(properties().get(prop::fname), QStringLiteral("before"));
    chosen = QString::fromStdString((*root_ / "mine.wav").string());
    s.window.on_saveWavButton_clicked();
    EXPECT_EQ(properties().get(prop::fname), chosen);
    ASSERT_TRUE(
        waitUntil([] { return takeLogPeek().contains(QStringLiteral("Post Save....Fmod")); }));
    const QStringList log = takeLog().filter(QRegularExpression("^hook: (export|pause)"));
    EXPECT_EQ(log, (QStringList{"hook: pause 100", "hook: export " + chosen}));
}

// --- Device menus --------------------------------------------------------

TEST_F(VoiceSelectionTest, MenusFollowTheDevicesAndAChoiceMovesTheOutput) {
    QStringList inputs = {"Built-in Microphone", "PARLUNE-01 Microphone Parlune"};
    QStringList outputs = {"Speakers", "PARLUNE-01 Parlune"};
    WindowServices services = loggingServices();
    services.recordDevices = [&inputs] { return inputs; };
    services.playbackDevices = [&outputs] { return outputs; };
    Shown s(services);
    QPushButton* in = child<QPushButton>(s.window, "InputList");
    QPushButton* out = child<QPushButton>(s.window, "OutputList");
    const auto press = [](QPushButton* button) {
        const QPoint at(10, 10);
        QMouseEvent event(QEvent::MouseButtonPress, at, button->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(button, &event);
        QMouseEvent up(QEvent::MouseButtonRelease, at, button->mapToGlobal(at), Qt::LeftButton,
                       Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(button, &up);
    };
    QMenu* inputMenu = child<QMenu>(s.window, "inputMenu");
    QMenu* outputMenu = child<QMenu>(s.window, "outputMenu");
    const auto entries = [](QMenu* menu) {
        QStringList texts;
        for (QAction* a : menu->actions())
            texts << QStringLiteral("%1=%2").arg(a->text()).arg(a->data().toInt());
        return texts;
    };
    EXPECT_EQ(in->text(), QStringLiteral("Built-in Microphone"));
    EXPECT_EQ(out->text(), QStringLiteral("Speakers"));

    inputs.insert(1, "USB Headset Microphone");
    outputs.insert(1, "USB Headset \u00c9couteurs");
    press(in);
    EXPECT_EQ(entries(inputMenu),
              (QStringList{"Built-in Microphone=0", "USB Headset Microphone=1"}));
    EXPECT_EQ(entries(outputMenu), (QStringList{"Output to Skype/VoIP App=0", "Speakers=1",
                                                "USB Headset \u00c9couteurs=2"}));
    EXPECT_TRUE(outputMenu->isVisible() || inputMenu->isVisible());
    inputMenu->hide();

    // The headset as speaker: config.ini, the pass-through moved, the live
    // chain started again.
    takeLog();
    outputMenu->actions()[2]->trigger();
    EXPECT_FALSE(out->isEnabled());  // while the steps run
    ASSERT_TRUE(waitUntil([&] { return !s.window.busy(); }));
    EXPECT_TRUE(out->isEnabled());
    EXPECT_EQ(out->text(), QStringLiteral("USB Headset \u00c9couteurs"));
    EXPECT_EQ(readAll(dataFolder() / "config.ini"),
              "USB Headset \xc3\x89"
              "couteurs");
    EXPECT_EQ(properties().get(prop::speakerPlayDevice),
              QStringLiteral("USB Headset \u00c9couteurs"));
    EXPECT_EQ(takeLog().filter(QRegularExpression("^hook")),
              (QStringList{"hook: stopQuibRestore", "hook: pause 1000", "hook: startQuibDefault",
                           "hook: startLiveChain isRunning=1"}));

    // Unplugged: gone at the next press.
    inputs.removeAt(1);
    press(out);
    EXPECT_EQ(entries(inputMenu), (QStringList{"Built-in Microphone=0"}));

    // The voice application only: the pass-through stops.
    outputMenu->actions()[0]->trigger();
    ASSERT_TRUE(waitUntil([&] { return !s.window.busy(); }));
    EXPECT_EQ(takeLog().filter(QRegularExpression("^hook")),
              (QStringList{"hook: stopQuibRestore", "hook: startLiveChain isRunning=1"}));

    // A microphone: its index, the live chain restarted, the others muted.
    inputMenu->actions()[0]->trigger();
    ASSERT_TRUE(waitUntil([&] { return !s.window.busy(); }));
    EXPECT_EQ(properties().get(prop::micDevice), 0);
    const QStringList log = takeLog().filter(QRegularExpression("^hook"));
    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], QStringLiteral("hook: pause 100"));
    EXPECT_EQ(log[1], QStringLiteral("hook: startLiveChain isRunning=1"));
    EXPECT_TRUE(log[2].startsWith(QStringLiteral("hook: mute(Built-in Microphone)")));
}

}  // namespace
}  // namespace parlune::app
