// The effect switches and the recording controls: record with its blinking
// countdown, play and export, and the enabled states they share with the
// device menus while a step sequence runs.
#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent>

#include "app/core/properties.h"
#include "app/main_window.h"
#include "app/step_runner.h"
#include "ui_main_window.h"

namespace parlune::app {
namespace {

const char* const kRecOnLook =
    "QPushButton {color:white; border:none;background-image:url(:/interactable/assets/"
    "btn_rec_on.png);}";
const char* const kRecOffLook =
    "QPushButton {color:white; border:none;background-image:url(:/interactable/assets/"
    "btn_rec_off.png);}";
const char* const kRecIdleLook =
    "QPushButton {color:white; border:none;background-image:url(:/interactable/assets/"
    "btn_record.png);} QPushButton:pressed {background-image: "
    "url(:/interactable/assets/btn_record_clic.png);}";
const char* const kRecPlayingLook =
    "QPushButton {color:white; border:none;background-image:url(:/interactable/assets/"
    "btn_record_clic.png);}";
const char* const kRecAfterPlaybackLook =
    "QPushButton {color:white; border:none;background-image:url(:/interactable/assets/"
    "btn_record.png);}";

// The pauses the live chain and the pass-through get around a restart.
constexpr int kRestartPauseMs = 200;
constexpr int kExportPauseMs = 100;

bool isRegularFile(const QString& path) { return QFileInfo(path).isFile(); }

}  // namespace

// --- Effects -----------------------------------------------------------------

void MainWindow::on_dspButton_toggled(bool checked) {
    properties().set(prop::isDspBipassed, !checked);
}

void MainWindow::on_echoButton_released() {
    properties().set(prop::isDspEchoBipassed, !ui_->echoButton->isChecked());
}

void MainWindow::on_chorusButton_released() {
    properties().set(prop::isDspChorusBipassed, !ui_->chorusButton->isChecked());
}

void MainWindow::on_distortionButton_released() {
    properties().set(prop::isDspDistortionBipassed, !ui_->distortionButton->isChecked());
}

void MainWindow::on_tremoloButton_released() {
    properties().set(prop::isDspTremoloBipassed, !ui_->tremoloButton->isChecked());
}

void MainWindow::on_reverbButton_released() {
    // Reverb is a switch of its own, on when checked.
    properties().set(prop::isReverb, ui_->reverbButton->isChecked());
}

// --- Enabled states ----------------------------------------------------------

void MainWindow::setBusy(bool busy) {
    // The window keeps drawing while the steps run; the pointer says it
    // works and the controls that would start steps of their own wait.
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
    refreshControlStates();
}

bool MainWindow::busy() const { return steps_ && steps_->busy(); }

void MainWindow::waitForBackgroundSteps() {
    steps_->waitForIdle();
    // The endings queued by the finished steps run now, not after the window.
    QCoreApplication::sendPostedEvents(steps_);
}

void MainWindow::refreshControlStates() {
    const bool idle = !busy();
    const bool recording = recordingState_ == RecordingState::Recording;
    const bool playing = recordingState_ == RecordingState::Playing;
    ui_->InputList->setEnabled(idle);
    ui_->OutputList->setEnabled(idle);
    ui_->recordButton->setEnabled(idle && !playing);
    // A second playback while one runs is not started: play waits for the
    // end of the first.
    ui_->playButton->setEnabled(idle && hasRecording_ && !recording && !playing);
    ui_->saveWavButton->setEnabled(idle && hasRecording_ && !recording && !playing);
}

// --- Recording ---------------------------------------------------------------

void MainWindow::on_recordButton_toggled(bool checked) {
    if (!checked) {
        endRecording();
        return;
    }
    recordTimer_->start(services_.recordTickMs);
    ui_->recordButton->setStyleSheet(QString::fromLatin1(kRecOnLook));
    ui_->recordButton->setText(QString::number(recordCountdown_));
    recordingState_ = RecordingState::Recording;
    refreshControlStates();
    morphWasBypassed_ = properties().get(prop::isDspBipassed);
    // The sample is taken of the plain voice.
    if (!morphWasBypassed_) properties().set(prop::isDspBipassed, true);
    steps_->run([s = services_] {
        s.stopQuib();
        s.startRecordQuib();
    });
}

void MainWindow::update() {
    if (recordBlinkOn_) {
        ui_->recordButton->setStyleSheet(QString::fromLatin1(kRecOnLook));
        recordBlinkOn_ = false;
        if (recordCountdown_ == 1) {
            ui_->recordButton->toggle();
        } else {
            --recordCountdown_;
            ui_->recordButton->setText(QString::number(recordCountdown_));
        }
    } else {
        ui_->recordButton->setStyleSheet(QString::fromLatin1(kRecOffLook));
        recordBlinkOn_ = true;
    }
}

void MainWindow::endRecording() {
    recordTimer_->stop();
    ui_->recordButton->setStyleSheet(QString::fromLatin1(kRecIdleLook));
    recordBlinkOn_ = false;
    recordCountdown_ = kRecordSeconds;
    ui_->recordButton->setText(QString());
    recordingState_ = RecordingState::Idle;
    hasRecording_ = true;
    refreshControlStates();

    const QString raw = properties().get(prop::applicationPathREC);
    const bool restoreMorph = !morphWasBypassed_;
    const bool monitor = monitorFlag_;
    steps_->run([s = services_, raw, restoreMorph, monitor] {
        s.stopRecordQuib();
        if (isRegularFile(raw)) s.convertRecording();
        if (restoreMorph) properties().set(prop::isDspBipassed, false);
        qDebug("Stop fmod flag");
        properties().set(prop::isRunning, false);
        qDebug("Sleep for 200 ms");
        s.pause(kRestartPauseMs);
        qDebug("Start fmod flag");
        properties().set(prop::isRunning, true);
        qDebug("Sleep for 200 ms");
        s.pause(kRestartPauseMs);
        qDebug("1111111111111111");
        if (!monitor) qDebug("33333333333333333333333");
        s.startQuib();
        if (monitor) qDebug("2222222222222222222");
        qDebug("44444444444444444444");
        qDebug("Run fmod on new thread");
        s.startLiveChain();
    });
}

// --- Playback and export -----------------------------------------------------

void MainWindow::on_playButton_clicked() {
    qDebug("***************PLAY BUTTON PRESSED!!********************* ");
    if (!isRegularFile(properties().get(prop::applicationPathREC16khz))) {
        qDebug("File does not exist");
        return;
    }
    ui_->recordButton->setStyleSheet(QString::fromLatin1(kRecPlayingLook));
    recordingState_ = RecordingState::Playing;
    refreshControlStates();
    qDebug("Stop fmod flag");
    properties().set(prop::isRunning, false);
    steps_->run([s = services_] { s.stopQuibRestore(); }, [this] { startPlayback(); });
}

void MainWindow::startPlayback() {
    playWatcher_->waitForFinished();
    playWatcher_->setFuture(QtConcurrent::run([s = services_] { s.playRecording(); }));
}

void MainWindow::restartFmod() {
    steps_->run([s = services_] { s.startQuibDefault(); },
                [this] {
                    qDebug("Start fmod flag");
                    properties().set(prop::isRunning, true);
                    qDebug("Run fmod on new thread");
                    services_.startLiveChain();
                    ui_->recordButton->setStyleSheet(QString::fromLatin1(kRecAfterPlaybackLook));
                    recordingState_ = RecordingState::Idle;
                    refreshControlStates();
                    qDebug("***************PLAY ENDED!!********************* ");
                });
}

void MainWindow::on_saveWavButton_clicked() {
    if (!isRegularFile(properties().get(prop::applicationPathREC16khz))) {
        qDebug("File does not exist");
        return;
    }
    const QString name = services_.askExportFileName(this);
    if (name.isEmpty()) return;
    properties().set(prop::fname, name);
    saveWatcher_->setFuture(QtConcurrent::run([s = services_] {
        s.pause(kExportPauseMs);
        s.exportRecording();
    }));
}

void MainWindow::postSaveFmod() { qDebug("Post Save....Fmod"); }

// --- Monitor switch ----------------------------------------------------------

void MainWindow::on_muteButton_toggled(bool checked) {
    monitorFlag_ = checked;
    steps_->run([s = services_] {
        s.stopQuibRestore();
        s.startQuibDefault();
    });
}

}  // namespace parlune::app
