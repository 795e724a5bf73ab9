// The program's one window: a frameless, fixed-size form that owns the widget
// tree, the menus and dialogs, the background runs' watchers and the network
// manager. Its constructor is the program's start-up: it fills the
// application properties, sends the usage ping, prepares the data folder,
// builds the form, checks the playback device, starts the routing, the live
// chain and the update check, and sets up the voice selection, in a fixed
// order of named steps. The network work runs in the background.
//
// What the entry point does around it:
//   - before the window: the application object, then
//     parlune::assets::registerResources() so the pictures and fonts are found;
//   - `MainWindow window; window.show(); int code = app.exec();`
//   - after the event loop: properties().set(prop::isRunning, false), then
//     engine::waitForLiveChainIdle(1000) so the live chain has released its
//     audio, then routing::stopQuibRestore() (the close button quits the loop
//     without a close event, so this is the one restore that always runs);
//     then the window, then the application object.
//
// Thread contract: GUI thread only. The live chain it starts runs on the
// global thread pool and shares nothing with the window but the application
// properties.
#pragma once

#include <QFutureWatcher>
#include <QMainWindow>
#include <QMessageBox>
#include <QNetworkReply>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <string>

#include "app/core/favorites_file.h"
#include "ui/core/help_walk.h"
#include "ui/core/pad_math.h"

class QAbstractButton;
class QCloseEvent;
class QCPItemPixmap;
class QDialog;
class QInputDialog;
class QMenu;
class QMouseEvent;
class QNetworkAccessManager;
class QPaintEvent;
class QRadioButton;
class QPushButton;
class QTimer;

namespace Ui {
class MainWindow;
}

namespace parlune::online {
class UpdateCheck;
}

namespace parlune::app {

class StepRunner;

// What the window does to the world outside itself: the audio server, the
// routing companions, the desktop. system() is the real one; tests hand in
// their own so the window builds offscreen without an audio server.
struct WindowServices {
    std::function<void(const std::string& chosenMicrophone)> muteOtherMicrophones;
    // The start-up playback device check; true when the virtual device is
    // still the default afterwards (the sound settings are then open).
    std::function<bool(bool playDevNamesVirtualDevice)> startupCheck;
    // PARLUNE-01 present, else a message and exit code 1.
    std::function<void()> requireVirtualDevice;
    std::function<void()> startQuibDefault;
    std::function<void()> stopQuibRestore;
    // One live-chain run on the global thread pool; its future is not kept.
    std::function<void()> startLiveChain;
    std::function<void()> openSoundControlPanel;
    std::function<void(const QUrl& url)> openUrl;
    // A modal box with one OK button, shown until the user closes it.
    std::function<void(QMessageBox::Icon icon, const QString& title, const QString& text)>
        messageBox;
    // A modal box with the question icon and Yes and No; true on Yes only.
    std::function<bool(const QString& title, const QString& text)> askYesNo;

    // The routing steps the recording and device controls drive (each
    // blocks for its pauses; the window runs them on its step runner).
    std::function<void()> stopQuib;
    std::function<void()> startQuib;
    std::function<void()> startRecordQuib;
    std::function<void()> stopRecordQuib;
    // The engine runs behind the recording controls: the conversion (blocks
    // until done), the playback and the export (blocking; the window runs
    // them on the global thread pool).
    std::function<void()> convertRecording;
    std::function<void()> playRecording;
    std::function<void()> exportRecording;
    // Device names, index = driver index, read afresh at each call.
    std::function<QStringList()> recordDevices;
    std::function<QStringList()> playbackDevices;
    // The fixed pauses between the steps.
    std::function<void(int ms)> pause;
    // Runs a modal dialog (the favorite's name, the error box) and returns
    // its result code.
    std::function<int(QDialog& dialog)> execDialog;
    // The export's file name; empty when the user cancels.
    std::function<QString(QWidget* parent)> askExportFileName;
    // The record button's blink and countdown tick.
    int recordTickMs = 500;
    // Watches the audio server from start-up on and puts the routing back
    // after the server lost PARLUNE-01 (routing::keepRoutingRepaired): given
    // the window as owner, a runner of the window's steps and the wait for
    // them. Empty: nothing watches.
    std::function<void(
        QObject* owner,
        std::function<void(std::function<void()> work, std::function<void()> then)> run,
        std::function<void()> waitForSteps)>
        keepRouting;

    // Routing, engine and desktop. Also hands routing the pass-through
    // (Looptap) and recorder (Capwell) calls this program links, and makes its
    // fatal message a box.
    static WindowServices system();
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The window the program runs: real services.
    explicit MainWindow(QWidget* parent = nullptr);
    explicit MainWindow(WindowServices services, QWidget* parent = nullptr);
    // Deletes the form and the members; stops nothing (the entry point has
    // stopped the live chain and the routing by then).
    ~MainWindow() override;

    static constexpr int kWidth = 1098;
    static constexpr int kHeight = 727;
    static constexpr int kHeadsetWarningMs = 5000;
    static constexpr int kRecordSeconds = 30;

    // The favorites table as readFile left it.
    const favorites::Table& favoriteTable() const { return favorites_; }
    // A slot's name as the window shows it (invalid UTF-8 becomes
    // replacement characters).
    QString favoriteName(int slot) const;
    int helpSlideIndex() const { return helpWalk_.slideIndex(); }

    // The pad point, in pad coordinates.
    double padX() const { return padX_; }
    double padY() const { return padY_; }
    bool padDragging() const { return padDragging_; }
    bool toggledCartoon() const { return toggledCartoon_; }
    int recordCountdown() const { return recordCountdown_; }
    // Blocks until the window's background steps have ended and delivers
    // their endings; for the end of the program and tests.
    void waitForBackgroundSteps();
    // Whether a background step sequence is running.
    bool busy() const;

    // Pitch factor from the pad's horizontal coordinate.
    static double pitchFromPad(double x) { return ui::pitchFromPad(x); }
    // True when `mouse` (window coordinates) lies on one of the enabled
    // buttons, the bottom 8 pixels of each (the style's margin) excluded.
    bool isCollision(const QList<QAbstractButton*>& buttons, QPoint mouse) const;

    // What the remote control drives (and the double clicks and the pad
    // call too): each acts as its click does, through the same slots, so the
    // looks and the properties follow as they would.
    enum class Switch { Morph, Echo, Reverb, Chorus, Distortion, Tremolo };
    // Whether the switch's button is on; the morph's is on at PARLUNE.
    bool switchOn(Switch which) const;
    // Clicks the switch's button unless it shows that state already.
    void setSwitch(Switch which, bool on);
    // Applies a preset or a favorite slot (from 0) as a double click on it
    // does: it gets the applied look and the other page's slots lose theirs.
    // An index outside the page applies nothing and leaves no slot of either
    // page with the applied look (a double click with no slot checked).
    void applyPreset(int index);
    void applyFavorite(int index);
    // The preset `step` places after the one with the applied look (before
    // it when negative), around the list; from none, the first or the last.
    void stepPreset(int step);
    // The slot with the applied look, -1 when none has it.
    int appliedPreset() const;
    int appliedFavorite() const;
    // Places the pad point as a press at it does, held in the mode's range.
    void setPadPoint(double x, double y);
    const ui::PadRange& padRange() const { return clampRange_; }
    bool recording() const { return recordingState_ == RecordingState::Recording; }
    // Clicks the record button; false when it is disabled (while a step
    // sequence or a playback runs) and takes no click.
    bool clickRecord();

public slots:
    // Prepares the data folder and fixes the paths of config.ini and
    // favorites.dat in it. Without a home folder nothing is built and the
    // paths stay empty.
    void getAppPath();
    // Whether PlayDev.ini names the virtual device. A file that exists but
    // cannot be read shows the "error" box with the system's reason.
    bool isParluneinPlayDeviceINI();
    // Loads the favorites table from ficName; when it does not open, the
    // defaults are used and written there. Never fails on any content: a
    // short file fills the records it covers, the rest keep their defaults.
    bool readFile(const char* ficName);

    void hideWarningLabel();
    void on_minimizeButton_clicked();
    // Asks the application to quit; the window is not closed first.
    void on_closeButton_clicked();

    void on_helpButton_clicked();
    void on_nextSlideButton_clicked();
    void on_prevSlideButton_clicked();
    void on_closeHelpButton_clicked();
    void on_setupButton_clicked();
    void openHowTo();
    void closeHowTo();
    void showSetup();

    void on_soundSettingsButton_clicked();

    // The matrix pad.
    void mousePress(QMouseEvent* event);
    void mouseMove(QMouseEvent* event);
    void mouseRelease(QMouseEvent* event);
    void on_toggleHuman_clicked();
    void on_toggleCartoon_clicked();
    void on_pitch_editingFinished();
    void on_formant_editingFinished();
    // Applies the point: properties, cursor, fields, redraw; clamps first
    // when asked.
    void updateMatrixCursor(bool clamp);
    void updateWarp();

    // Presets and favorites.
    void updatePresetParams(int id);
    void updateFavoriteParams(int id);
    void on_presetsTab_toggled(bool checked);
    void on_favoritesTab_toggled(bool checked);
    void on_savePresetButton_clicked();
    void initializeFavorites();

    // Effects, recording, playback, export.
    void on_dspButton_toggled(bool checked);
    void on_echoButton_released();
    void on_chorusButton_released();
    void on_distortionButton_released();
    void on_tremoloButton_released();
    void on_reverbButton_released();
    void on_recordButton_toggled(bool checked);
    void update();
    void on_playButton_clicked();
    void on_saveWavButton_clicked();
    void on_muteButton_toggled(bool checked);

    // Device menus.
    void setInput();
    void setOutput();

    // The usage ping: post() sends the one request of this start (or logs
    // why not); finished() logs a failed reply's error code.
    void post();
    void finished(QNetworkReply* reply);

    // The share and web links, handed to the desktop.
    void on_emailButton_clicked();
    void on_twitterButton_clicked();
    void on_facebookButton_clicked();
    void on_websiteButton_clicked();

signals:
    // The pad point, the mode, the applied slot, a switch or the recording
    // state may have changed, whatever the cause. One action can send it
    // several times.
    void voiceChanged();

protected:
    bool eventFilter(QObject* object, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // Restores the default playback device and stops the pass-through.
    void closeEvent(QCloseEvent* event) override;

private slots:
    // Filled by the recording controls: the end of a playback and of an export.
    void restartFmod();
    void postSaveFmod();
    // Filled by the device menus: rebuild both menus from the device lists.
    void getDevices();

private:
    // The construction order, one function per step.
    void createMembers();                 // 1
    void writeStartupProperties();        // 2
    void startUsagePing();                // 3
    void muteMicrophonesAtStart();        // 4
    void createRunWatchers();             // 5
    void prepareDataFolder();             // 6
    void buildForm();                     // 7
    void hideRecordingButtons();          // 8
    void chooseStartupSpeaker();          // 9
    void showHeadsetWarning();            // 10
    void checkPlaybackDevice();           // 11
    void startRouting();                  // 12
    void startLiveChain();                // 13
    void raisePriorityAndCheckUpdates();  // 14
    void applyWindowFrame();              // 15
    void setUpVoiceSelection();           // 16
    void setUpDeviceMenus();              // 17
    void setUpSetupMenus();               // 18
    void styleDialogs();                  // 19
    void setInitialDeviceTexts();         // 20

    // Parts of step 16, the voice selection.
    void setUpPresets();
    void placeOverlays();
    void setUpMatrixPlot();
    void connectVoiceSelection();
    void setUpPresetButtons();
    void updateFavoriteSlots();
    void applyStartPoint();
    // The switches and the record button tell of their changes.
    void connectSwitchSignals();
    QAbstractButton* switchButton(Switch which) const;

    // The pad's look and ranges for a mode.
    void showMode(bool cartoon);
    void setPadRanges(const ui::PadRange& range);
    void setPadPointFromPixel(const QPoint& at);
    // Walks the buttons of one page after a double click: normal looks, the
    // applied look on the checked one, whose index is returned (-1: none).
    int markApplied(const QList<QAbstractButton*>& buttons);
    void setNormalLook(const QList<QAbstractButton*>& buttons);
    void writeFavorites();
    int runModal(QDialog& dialog);
    QRadioButton* makeSlotButton(const QString& text, bool cartoon);

    // Recording controls: the record button's looks and the enabled states,
    // which follow the recording state and whether a step sequence runs.
    enum class RecordingState { Idle, Recording, Playing };
    void refreshControlStates();
    void setBusy(bool busy);
    void endRecording();
    void startPlayback();
    // The live chain stopped and started again around a change of device.
    void restartLiveChain();
    void popUpDeviceMenu(QPushButton* button, QMenu* menu);
    static bool isVirtualDevice(const QString& name);

    void startUpdateCheck();
    // The update component's events, as the update check passes them on.
    void updateHandler(quint16 value, quint16 event, const QString& text);
    // Double clicks on the preset and favorite slots.
    void handleSlotDoubleClick(const QMouseEvent* event);
    // A press in the title strip: the compositor moves the window on
    // Wayland (a window cannot place itself there); elsewhere the window
    // follows the cursor itself.
    void beginDrag();
    void applyHelpView();

    WindowServices services_;
    std::unique_ptr<Ui::MainWindow> ui_;

    QString dataFolder_;  // empty when the data folder could not be had
    std::string configPath_;
    std::string favoritesPath_;

    bool dragging_ = false;
    QPoint dragOffset_;

    QNetworkAccessManager* network_ = nullptr;
    std::unique_ptr<online::UpdateCheck> updateCheck_;
    QFutureWatcher<void>* playWatcher_ = nullptr;
    QFutureWatcher<void>* saveWatcher_ = nullptr;
    QMenu* inputMenu_ = nullptr;
    QMenu* outputMenu_ = nullptr;
    QMenu* howToMenu_ = nullptr;
    QMenu* setupMenu_ = nullptr;
    QInputDialog* nameDialog_ = nullptr;
    QMessageBox* errorBox_ = nullptr;
    QTimer* recordTimer_ = nullptr;
    StepRunner* steps_ = nullptr;

    // The pad.
    double padX_ = 1.0;
    double padY_ = 1.5;
    bool padDragging_ = false;
    bool padPointerHidden_ = false;
    bool toggledCartoon_ = false;
    ui::PadRange clampRange_ = ui::kCartoonRange;
    QCPItemPixmap* matrixCursor_ = nullptr;
    QList<QAbstractButton*> presetButtons_;
    QList<QAbstractButton*> favoriteButtons_;
    QPoint savePresetButtonAt_;

    // Recording.
    int recordCountdown_ = kRecordSeconds;
    bool recordBlinkOn_ = false;
    bool morphWasBypassed_ = false;
    bool monitorFlag_ = true;
    bool hasRecording_ = false;
    RecordingState recordingState_ = RecordingState::Idle;

    // The setup menu's entries, walked together to build it.
    QStringList setupApplications_;
    QStringList setupIcons_;

    ui::HelpWalk helpWalk_;
    favorites::Table favorites_ = favorites::defaultTable();
};

}  // namespace parlune::app
