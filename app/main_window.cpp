#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QPixmap>
#include <QStyleOption>
#include <QThread>
#include <QTimer>
#include <QValidator>
#include <QWidgetAction>
#include <QWindow>
#include <QtConcurrent>

#include <filesystem>

#include "app/core/data_files.h"
#include "app/core/playdev_file.h"
#include "app/core/properties.h"
#include "app/program_files.h"
#include "app/step_runner.h"
#include "companions/capwell.h"
#include "engine/engine.h"
#include "looptap/looptap.h"
#include "online/feed_update.h"
#include "online/links.h"
#include "online/update_check.h"
#include "online/usage_ping.h"
#include "routing/mic_mute.h"
#include "routing/route_repair.h"
#include "routing/routing.h"
#include "ui_main_window.h"

#include <qcustomplot.h>

namespace parlune::app {
namespace {

// The title strip: left of the minimize and close buttons, above the panels.
constexpr int kDragStripRight = 1038;
constexpr int kDragStripBottom = 43;

const QPoint kSetupMenuAt(600, 340);

const char* const kDeviceMenuStyle =
    "QMenu { width: 252px; background-color: #28365f; border: solid 2px #50a0ad; } "
    "QMenu::item { height: 24px; padding-left: 6px; font-family: 'Roboto'; color: white; "
    "background-color: transparent; } QMenu::item:selected { color: #67d2dd; }";

const char* const kSetupMenuStyle =
    "QMenu { padding: 8px; background-color: #14172f; } QMenu::item { font-family: 'Roboto'; "
    "color: white; background-color: transparent; } QMenu::item:selected { color: #67d2dd; } "
    "QMenu QLabel{color:white}";

const char* const kDialogStyleHead =
    "QDialog {\n\tbackground-color: qlineargradient(spread:pad, x1:0.006, y1:0, x2:1, y2:0, "
    "stop:0 rgba(46, 57, 79, 255), stop:1 rgba(34, 42, 72, 255));\n\tborder: 1px solid "
    "#101226;\n\tborder-radius: 5px;\n}\n\nQDialog * {\n\tfont: bold 'Roboto';\n}\n\nQDialog "
    "QLabel {\n\tcolor: white;\n\tfont-size: 12px;\n}\n\nQDialog QPushButton {\n\tcolor: "
    "#60c8d4;\n\tborder: 1px solid #364b83;\n\tborder-radius: 5px;\n\tbackground-color: "
    "#34477b;\n\tpadding: 10px 20px 10px 20px;\n}";
const char* const kDialogLineEditStyle =
    "\n\nQDialog QLineEdit {\n\tcolor: white;\n\theight: 25px;\n\tbackground-color: "
    "#171e34;\n\tborder: 2px solid #3f4862;\n\tborder-radius: 5px;\n\tpadding-left: 5px;\n}";

// Accepts a name while its UTF-8 form fits a favorite's name field.
class FavoriteNameValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return input.toUtf8().size() < static_cast<int>(favorites::kNameBytes) ? Acceptable
                                                                               : Invalid;
    }
};

QString helpPicturePath(ui::HelpPicture picture) {
    switch (picture) {
        case ui::HelpPicture::SlideA:
            return QStringLiteral(":/fixed/assets/overlay_helpA.png");
        case ui::HelpPicture::SlideB:
            return QStringLiteral(":/fixed/assets/overlay_helpB.png");
        case ui::HelpPicture::HowTo:
            return QStringLiteral(":/fixed/assets/overlay_howTo.png");
        case ui::HelpPicture::SlideD:
            return QStringLiteral(":/fixed/assets/overlay_helpD.png");
        case ui::HelpPicture::None:
            break;
    }
    return QString();
}

}  // namespace

WindowServices WindowServices::system() {
    routing::setPassThrough({&StartPlaying, &StopPlaying});
    routing::setRecorder({&set_recorded_filename, &start_record, &stop_record});
    routing::setFatalHandler([](const QString& message) {
        qCritical().noquote() << message;
        // The steps also run on the window's step runner: the box belongs
        // to the GUI thread.
        const auto show = [message] {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Parlune"), message,
                            QMessageBox::Ok);
            box.exec();
        };
        if (QThread::currentThread() == qApp->thread())
            show();
        else
            QMetaObject::invokeMethod(qApp, show, Qt::BlockingQueuedConnection);
    });

    WindowServices s;
    s.muteOtherMicrophones = [](const std::string& name) { routing::muteOtherMicrophones(name); };
    s.startupCheck = [](bool named) { return routing::startupCheck(named); };
    s.requireVirtualDevice = [] { routing::requireVirtualDevice(); };
    s.startQuibDefault = [] { routing::startQuibDefault(); };
    s.stopQuibRestore = [] { routing::stopQuibRestore(); };
    s.startLiveChain = [] { QtConcurrent::run(&engine::RunFmodFunction); };
    s.openSoundControlPanel = [] { routing::openSoundControlPanel(); };
    s.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    s.messageBox = [](QMessageBox::Icon icon, const QString& title, const QString& text) {
        QMessageBox box(icon, title, text, QMessageBox::Ok);
        box.exec();
    };
    s.stopQuib = [] { routing::stopQuib(); };
    s.startQuib = [] { routing::startQuib(); };
    s.startRecordQuib = [] { routing::startRecordQuib(); };
    s.stopRecordQuib = [] { routing::stopRecordQuib(); };
    s.convertRecording = [] { engine::runConvert(); };
    s.playRecording = [] { engine::runPlay(); };
    s.exportRecording = [] { engine::runSave(); };
    s.recordDevices = [] { return engine::recordDriverNames(); };
    s.playbackDevices = [] { return engine::playbackDriverNames(); };
    s.pause = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
    s.execDialog = [](QDialog& dialog) { return dialog.exec(); };
    s.askExportFileName = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Save File"),
                                            QDir::currentPath(), QStringLiteral("Files (*.wav)"));
    };
    s.askYesNo = [](const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    s.keepRouting = [](QObject* owner, routing::RouteRepair::Runner run,
                       std::function<void()> waitForSteps) {
        routing::keepRoutingRepaired(owner, std::move(run), std::move(waitForSteps));
    };
    return s;
}

MainWindow::MainWindow(QWidget* parent) : MainWindow(WindowServices::system(), parent) {}

MainWindow::MainWindow(WindowServices services, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services)), ui_(new Ui::MainWindow) {
    createMembers();
    writeStartupProperties();
    startUsagePing();
    muteMicrophonesAtStart();
    createRunWatchers();
    prepareDataFolder();
    buildForm();
    hideRecordingButtons();
    chooseStartupSpeaker();
    showHeadsetWarning();
    checkPlaybackDevice();
    startRouting();
    startLiveChain();
    raisePriorityAndCheckUpdates();
    applyWindowFrame();
    setUpVoiceSelection();
    setUpDeviceMenus();
    setUpSetupMenus();
    styleDialogs();
    setInitialDeviceTexts();
}

MainWindow::~MainWindow() = default;

// --- Construction steps ----------------------------------------------------

void MainWindow::createMembers() {
    // The pad, preset and favorite state gets its defaults with the voice
    // selection; the table of favorites has its defaults already.
    inputMenu_ = new QMenu(this);
    inputMenu_->setObjectName(QStringLiteral("inputMenu"));
    outputMenu_ = new QMenu(this);
    outputMenu_->setObjectName(QStringLiteral("outputMenu"));
    howToMenu_ = new QMenu(this);
    setupMenu_ = new QMenu(this);
    nameDialog_ = new QInputDialog(this);
    errorBox_ = new QMessageBox(this);
    recordTimer_ = new QTimer(this);
    recordTimer_->setObjectName(QStringLiteral("recordTimer"));
    steps_ = new StepRunner(this);
    connect(steps_, &StepRunner::busyChanged, this, &MainWindow::setBusy);
    // The routing steps must not run beside the tear-down's own stop.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &MainWindow::waitForBackgroundSteps);
}

void MainWindow::writeStartupProperties() { writeInitialProperties(properties()); }

void MainWindow::startUsagePing() {
    network_ = new QNetworkAccessManager(this);
    connect(network_, &QNetworkAccessManager::finished, this, &MainWindow::finished);
    post();
}

void MainWindow::muteMicrophonesAtStart() { services_.muteOtherMicrophones(std::string()); }

void MainWindow::createRunWatchers() {
    playWatcher_ = new QFutureWatcher<void>(this);
    saveWatcher_ = new QFutureWatcher<void>(this);
    connect(playWatcher_, &QFutureWatcher<void>::finished, this, &MainWindow::restartFmod);
    connect(saveWatcher_, &QFutureWatcher<void>::finished, this, &MainWindow::postSaveFmod);
}

void MainWindow::prepareDataFolder() {
    getAppPath();
    writeDataFolderProperties(properties(), dataFolder_);
}

void MainWindow::buildForm() {
    installEventFilter(this);
    setMouseTracking(true);
    ui_->setupUi(this);
    ui_->websiteButton->setText(links::buttonText());
}

void MainWindow::hideRecordingButtons() {
    // The record, play and export buttons stay on screen (the help describes
    // them); play and export wait for a recording. The monitor switch stays
    // hidden: the output menu is where the speaker is chosen.
    ui_->playButton->setEnabled(false);
    ui_->saveWavButton->setEnabled(false);
    ui_->muteButton->setChecked(true);
    ui_->muteButton->hide();
}

void MainWindow::chooseStartupSpeaker() {
    // The first output is the default, which is still the virtual device
    // when the last run ended without giving the speaker back: playing the
    // recordings there, or naming it to Looptap, would be heard by nobody.
    const QStringList outputs = services_.playbackDevices();
    QString speaker = outputs.isEmpty() ? QString() : outputs.first();
    for (const QString& output : outputs)
        if (!isVirtualDevice(output)) {
            speaker = output;
            break;
        }
    properties().set(prop::speakerPlayDevice, speaker);
    qDebug().noquote() << QStringLiteral("selectdevice ........ ") + speaker;
    if (!configPath_.empty()) data::writeConfigIni(configPath_, speaker.toStdString());
}

void MainWindow::showHeadsetWarning() {
    ui_->muteButton->hide();
    ui_->feedbackWarningLabel->setPixmap(
        QPixmap(QStringLiteral(":/fixed/assets/overlay_headsetWarning.png")));
    ui_->feedbackWarningLabel->setVisible(true);
    // Over the left panel for its five seconds, so it can be read; back to
    // the bottom of the stack when it goes.
    ui_->feedbackWarningLabel->raise();
    QTimer::singleShot(kHeadsetWarningMs, this, &MainWindow::hideWarningLabel);
}

void MainWindow::checkPlaybackDevice() {
    if (services_.startupCheck(isParluneinPlayDeviceINI()))
        services_.messageBox(
            QMessageBox::Warning, QStringLiteral("Something is wrong"),
            QStringLiteral("Please set your headset as default in sounds settings"));
}

void MainWindow::startRouting() {
    services_.requireVirtualDevice();
    qDebug("+++++++++++++++++ PLAY");
    services_.startQuibDefault();
    if (services_.keepRouting)
        services_.keepRouting(
            this,
            [this](std::function<void()> work, std::function<void()> then) {
                steps_->run(std::move(work), std::move(then));
            },
            [this] { steps_->waitForIdle(); });
}

void MainWindow::startLiveChain() {
    properties().set(prop::isRunning, true);
    services_.startLiveChain();
}

void MainWindow::raisePriorityAndCheckUpdates() {
    // A request the system may refuse; the program runs the same without it.
    QThread::currentThread()->setPriority(QThread::HighestPriority);
    startUpdateCheck();
}

void MainWindow::startUpdateCheck() {
    updateCheck_ = std::make_unique<online::UpdateCheck>(online::makeUpdateComponent());
    const bool started =
        updateCheck_->start([this](quint16 value, quint16 event, const QString& text) {
            updateHandler(value, event, text);
        });
    if (!started)
        qDebug().noquote() << QStringLiteral("Update check not started: ") +
                                  updateCheck_->lastResultText();
}

void MainWindow::applyWindowFrame() {
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/assets/icon_parlune.png")));
}

void MainWindow::setUpVoiceSelection() {
    setupApplications_ =
        QStringList{QStringLiteral("Skype"), QStringLiteral("TeamSpeak"), QStringLiteral("Steam"),
                    QStringLiteral("Ventrilo"), QStringLiteral("more...")};
    setupIcons_ = QStringList{QStringLiteral(":/icons/assets/icon_skype.png"),
                              QStringLiteral(":/icons/assets/icon_teamspeak.png"),
                              QStringLiteral(":/icons/assets/icon_steam.png"),
                              QStringLiteral(":/icons/assets/icon_ventrilo.png"),
                              QStringLiteral(":/icons/assets/icon_more.png")};
    setUpPresets();
    readFile(favoritesPath_.c_str());
    placeOverlays();
    setUpMatrixPlot();
    connectVoiceSelection();
    setUpPresetButtons();
    updateFavoriteSlots();
    applyStartPoint();
}

void MainWindow::placeOverlays() {
    ui_->helpLabel->resize(kWidth, kHeight);
    for (QWidget* w :
         {static_cast<QWidget*>(ui_->helpLabel), static_cast<QWidget*>(ui_->backdrop),
          static_cast<QWidget*>(ui_->nextSlideButton), static_cast<QWidget*>(ui_->prevSlideButton),
          static_cast<QWidget*>(ui_->closeHelpButton), static_cast<QWidget*>(ui_->presetsList),
          static_cast<QWidget*>(ui_->favoritesList), static_cast<QWidget*>(ui_->inputCombo),
          static_cast<QWidget*>(ui_->outputCombo), static_cast<QWidget*>(ui_->savePresetButton),
          static_cast<QWidget*>(ui_->favoriteSlots)})
        w->hide();
}

void MainWindow::connectVoiceSelection() {
    connect(ui_->customPlot, &QCustomPlot::mousePress, this, &MainWindow::mousePress);
    connect(ui_->customPlot, &QCustomPlot::mouseMove, this, &MainWindow::mouseMove);
    connect(ui_->customPlot, &QCustomPlot::mouseRelease, this, &MainWindow::mouseRelease);
    recordTimer_->setInterval(services_.recordTickMs);
    connect(recordTimer_, &QTimer::timeout, this, &MainWindow::update);
    connect(howToMenu_, &QMenu::aboutToShow, this, &MainWindow::openHowTo);
    connect(howToMenu_, &QMenu::aboutToHide, this, &MainWindow::closeHowTo);
    connectSwitchSignals();
}

void MainWindow::setUpDeviceMenus() {
    getDevices();
    inputMenu_->setStyleSheet(QString::fromLatin1(kDeviceMenuStyle));
    outputMenu_->setStyleSheet(QString::fromLatin1(kDeviceMenuStyle));
    // The menus open from the event filter rather than through setMenu: a
    // push button with a menu attached ignores its style sheet's left
    // padding and would draw the device name over its picture's glyph.
    ui_->InputList->installEventFilter(this);
    ui_->OutputList->installEventFilter(this);
    connect(ui_->InputList, &QPushButton::clicked, this,
            [this] { popUpDeviceMenu(ui_->InputList, inputMenu_); });
    connect(ui_->OutputList, &QPushButton::clicked, this,
            [this] { popUpDeviceMenu(ui_->OutputList, outputMenu_); });
}

void MainWindow::setUpSetupMenus() {
    auto* title = new QLabel(QStringLiteral("<b>SETUP PARLUNE FOR...</b>"), setupMenu_);
    QFont font(QStringLiteral("Roboto"), 8);
    font.setWeight(100);
    title->setFont(font);
    title->setAlignment(Qt::AlignLeft);
    auto* titleAction = new QWidgetAction(setupMenu_);
    titleAction->setDefaultWidget(title);
    setupMenu_->addAction(titleAction);

    for (int i = 0; i < setupApplications_.size() && i < setupIcons_.size(); ++i) {
        QAction* action = setupMenu_->addAction(QIcon(setupIcons_[i]), setupApplications_[i]);
        action->setData(i);
        connect(action, &QAction::triggered, this, &MainWindow::showSetup);
    }
    setupMenu_->setStyleSheet(QString::fromLatin1(kSetupMenuStyle));
    ui_->setupButton->setMenu(howToMenu_);
}

void MainWindow::styleDialogs() {
    // The style sheets come first: the buttons and the field a dialog makes
    // later are polished with them (set afterwards, under a window with a
    // style sheet of its own, they keep the desktop's look).
    nameDialog_->setStyleSheet(QString::fromLatin1(kDialogStyleHead) +
                               QString::fromLatin1(kDialogLineEditStyle));
    errorBox_->setStyleSheet(QString::fromLatin1(kDialogStyleHead));
    nameDialog_->setWindowFlags(nameDialog_->windowFlags() | Qt::FramelessWindowHint);
    nameDialog_->move(pos());
    nameDialog_->setSizeGripEnabled(false);
    nameDialog_->setWindowTitle(QStringLiteral("Save Favorite"));
    nameDialog_->setLabelText(QStringLiteral("Name your preset"));
    nameDialog_->setOkButtonText(QStringLiteral("SAVE"));
    nameDialog_->setCancelButtonText(QStringLiteral("CANCEL"));
    nameDialog_->setInputMode(QInputDialog::TextInput);
    // The slot holds 55 bytes of UTF-8: the field refuses what would not fit.
    if (auto* field = nameDialog_->findChild<QLineEdit*>())
        field->setValidator(new FavoriteNameValidator(field));

    // A shadow each: one effect can serve only one widget.
    for (QDialog* dialog : {static_cast<QDialog*>(nameDialog_), static_cast<QDialog*>(errorBox_)}) {
        auto* shadow = new QGraphicsDropShadowEffect(dialog);
        shadow->setColor(QColor(0, 0, 0, 100));
        shadow->setBlurRadius(10);
        shadow->setOffset(2, 2);
        dialog->setGraphicsEffect(shadow);
    }
    errorBox_->setWindowFlags(errorBox_->windowFlags() | Qt::FramelessWindowHint);
    errorBox_->setWindowTitle(QStringLiteral("Error"));
    errorBox_->setStandardButtons(QMessageBox::Ok);
    // Some desktops' styles put icons on dialog buttons; these are text only.
    for (QDialog* dialog : {static_cast<QDialog*>(nameDialog_), static_cast<QDialog*>(errorBox_)})
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) button->setIcon(QIcon());
}

void MainWindow::setInitialDeviceTexts() {
    const QStringList inputs = services_.recordDevices();
    if (!inputs.isEmpty()) ui_->InputList->setText(inputs.first());
    const QString speaker = properties().get(prop::speakerPlayDevice);
    if (speaker.contains(QLatin1String("Parlune"))) {
        const QStringList outputs = services_.playbackDevices();
        if (outputs.size() > 1) ui_->OutputList->setText(outputs[1]);
    } else {
        ui_->OutputList->setText(speaker);
    }
}

// --- Data folder and files -------------------------------------------------

void MainWindow::getAppPath() {
    const std::string folder = data::dataFolder();
    if (folder.empty()) return;
    dataFolder_ = QString::fromStdString(folder);
    configPath_ = data::configIniPath();
    favoritesPath_ = data::favoritesPath();
    const QString programFolder = switcherFolder(QCoreApplication::applicationDirPath());
    qDebug().noquote() << "copyCommand" << programFolder + QStringLiteral("/swaplane") << "->"
                       << QString::fromStdString(data::switcherPath());
    data::prepareDataFolder(programFolder.toStdString());
}

bool MainWindow::isParluneinPlayDeviceINI() {
    const std::string path = data::playDevIniPath();
    std::string why;
    const bool named = playdev::isParluneinPlayDeviceINI(path, &why);
    // A missing file is the normal state of a fresh session (the per-user
    // temporary folder is emptied at logout, and the switcher writes the file
    // on its first "setplay"): only a file that is there but unreadable is
    // worth a box.
    std::error_code ec;
    if (!named && !why.empty() && std::filesystem::exists(path, ec))
        services_.messageBox(QMessageBox::Information, QStringLiteral("error"),
                             QString::fromStdString(why));
    return named;
}

bool MainWindow::readFile(const char* ficName) {
    return favorites::readFile(ficName ? ficName : "", favorites_);
}

QString MainWindow::favoriteName(int slot) const {
    if (slot < 0 || slot >= favorites::kSlotCount) return QString();
    return QString::fromStdString(favorites::nameOf(favorites_[static_cast<size_t>(slot)]));
}

// --- Window ----------------------------------------------------------------

void MainWindow::hideWarningLabel() {
    ui_->feedbackWarningLabel->setVisible(false);
    ui_->feedbackWarningLabel->lower();
}

void MainWindow::on_minimizeButton_clicked() { setWindowState(Qt::WindowMinimized); }

void MainWindow::on_closeButton_clicked() { QCoreApplication::quit(); }

void MainWindow::closeEvent(QCloseEvent* event) {
    qDebug("closeEvent......");
    // The routing steps run one at a time: the queued ones end first.
    waitForBackgroundSteps();
    services_.stopQuibRestore();
    event->accept();
}

void MainWindow::paintEvent(QPaintEvent*) {
    // A subclass draws its style sheet only when asked to.
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

bool MainWindow::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = mapFromGlobal(mouse->globalPos());
            dragOffset_ = at;
            if (at.x() < kDragStripRight && at.y() < kDragStripBottom) beginDrag();
            const QPoint inForm = ui_->centralWidget->mapFrom(this, at);
            if (ui_->InputList->geometry().contains(inForm) ||
                ui_->OutputList->geometry().contains(inForm))
                getDevices();
            break;
        }
        case QEvent::MouseMove:
            if (dragging_) move(static_cast<QMouseEvent*>(event)->globalPos() - dragOffset_);
            break;
        case QEvent::MouseButtonRelease:
            dragging_ = false;
            break;
        case QEvent::MouseButtonDblClick:
            handleSlotDoubleClick(static_cast<QMouseEvent*>(event));
            return true;
        default:
            break;
    }
    return false;
}

void MainWindow::beginDrag() {
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && windowHandle()) {
        windowHandle()->startSystemMove();
        return;
    }
    dragging_ = true;
}

// --- Help and setup --------------------------------------------------------

void MainWindow::applyHelpView() {
    const ui::HelpView& view = helpWalk_.view();
    if (view.picture != ui::HelpPicture::None)
        ui_->helpLabel->setPixmap(QPixmap(helpPicturePath(view.picture)));
    ui_->helpLabel->setVisible(view.picture != ui::HelpPicture::None);
    ui_->nextSlideButton->setVisible(view.next);
    ui_->prevSlideButton->setVisible(view.previous);
    ui_->closeHelpButton->setVisible(view.close);
    ui_->customPlot->setVisible(view.padVisible());
}

void MainWindow::on_helpButton_clicked() {
    helpWalk_.open();
    applyHelpView();
}

void MainWindow::on_nextSlideButton_clicked() {
    helpWalk_.next();
    applyHelpView();
}

void MainWindow::on_prevSlideButton_clicked() {
    helpWalk_.previous();
    applyHelpView();
}

void MainWindow::on_closeHelpButton_clicked() {
    if (!helpWalk_.close() && ui_->backdrop->isVisible()) ui_->backdrop->hide();
    applyHelpView();
}

void MainWindow::on_setupButton_clicked() {
    // The button acts through its menu.
}

void MainWindow::openHowTo() {
    helpWalk_.openHowTo();
    applyHelpView();
    // Over the how-to picture, wherever the window stands.
    setupMenu_->exec(mapToGlobal(kSetupMenuAt));
}

void MainWindow::closeHowTo() {}

void MainWindow::showSetup() {
    const auto* action = qobject_cast<const QAction*>(sender());
    if (!action) return;
    const int index = action->data().toInt();
    if (index >= 0 && index < 5) services_.openUrl(QUrl(links::howItWorksPage()));
}

void MainWindow::on_soundSettingsButton_clicked() { services_.openSoundControlPanel(); }

// --- Online services -------------------------------------------------------

void MainWindow::post() { online::postUsagePing(*network_); }

void MainWindow::finished(QNetworkReply* reply) { online::logPingReply(reply); }

void MainWindow::updateHandler(quint16, quint16 event, const QString&) {
    online::UpdatePrompts prompts;
    prompts.information = [this](const QString& title, const QString& text) {
        services_.messageBox(QMessageBox::Information, title, text);
    };
    // Services without a question box answer No.
    prompts.question = [this](const QString& title, const QString& text) {
        return services_.askYesNo && services_.askYesNo(title, text);
    };
    prompts.quit = [] { QCoreApplication::quit(); };
    online::handleUpdateEvent(event, *updateCheck_, prompts);
}

void MainWindow::on_emailButton_clicked() { services_.openUrl(links::mailLink()); }
void MainWindow::on_twitterButton_clicked() { services_.openUrl(links::postLink()); }
void MainWindow::on_facebookButton_clicked() { services_.openUrl(links::pageShareLink()); }
void MainWindow::on_websiteButton_clicked() { services_.openUrl(QUrl(links::homePage())); }

}  // namespace parlune::app
