// The microphone and speaker menus: rebuilt from the device lists at each
// press, so a device plugged in after start is there the next time.
#include <QAction>
#include <QDebug>
#include <QMenu>
#include <QPushButton>

#include <exception>

#include "app/core/data_files.h"
#include "app/core/properties.h"
#include "app/main_window.h"
#include "app/step_runner.h"
#include "ui_main_window.h"

namespace parlune::app {
namespace {

const char* const kVoipEntry = "Output to Skype/VoIP App";

// Switching speakers: the pass-through gets a second to let go of the old one.
constexpr int kSpeakerSwitchPauseMs = 1000;
constexpr int kMicrophoneRestartPauseMs = 100;

void clearMenu(QMenu* menu) {
    for (QAction* action : menu->actions()) {
        menu->removeAction(action);
        action->deleteLater();
    }
    menu->clear();
}

}  // namespace

// The virtual device is never offered: recording from it or playing to it
// would loop the voice back into itself.
bool MainWindow::isVirtualDevice(const QString& name) {
    return name.contains(QLatin1String("Parlune"));
}

void MainWindow::getDevices() {
    clearMenu(inputMenu_);
    const QStringList inputs = services_.recordDevices();
    for (int index = 0; index < inputs.size(); ++index) {
        if (isVirtualDevice(inputs[index])) continue;
        qDebug().noquote() << QStringLiteral("(%1) %2").arg(index).arg(inputs[index]);
        QAction* action = inputMenu_->addAction(inputs[index]);
        action->setData(index);
        connect(action, &QAction::triggered, this, &MainWindow::setInput);
    }

    clearMenu(outputMenu_);
    QAction* voip = outputMenu_->addAction(QString::fromLatin1(kVoipEntry));
    voip->setData(0);
    connect(voip, &QAction::triggered, this, &MainWindow::setOutput);
    const QStringList outputs = services_.playbackDevices();
    for (int index = 0; index < outputs.size(); ++index) {
        if (isVirtualDevice(outputs[index])) continue;
        QAction* action = outputMenu_->addAction(outputs[index]);
        action->setData(index + 1);
        connect(action, &QAction::triggered, this, &MainWindow::setOutput);
    }
}

void MainWindow::popUpDeviceMenu(QPushButton* button, QMenu* menu) {
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

void MainWindow::restartLiveChain() {
    properties().set(prop::isRunning, true);
    services_.startLiveChain();
}

void MainWindow::setInput() {
    const auto* action = qobject_cast<const QAction*>(sender());
    if (!action) return;
    ui_->InputList->setText(action->text());
    properties().set(prop::micDevice, action->data().toInt());
    properties().set(prop::isRunning, false);
    const std::string microphone = action->text().toStdString();
    steps_->run([s = services_, microphone] {
        try {
            s.pause(kMicrophoneRestartPauseMs);
            properties().set(prop::isRunning, true);
            s.startLiveChain();
            s.muteOtherMicrophones(microphone);
        } catch (const std::exception& e) {
            qDebug() << "exception!!!" << e.what();
            s.stopQuibRestore();
        }
    });
}

void MainWindow::setOutput() {
    const auto* action = qobject_cast<const QAction*>(sender());
    if (!action) return;
    properties().set(prop::isRunning, false);
    ui_->OutputList->setText(action->text());
    const int choice = action->data().toInt();
    if (choice > 0) {
        // The list is read again: the entry's text may be an older name.
        const QStringList outputs = services_.playbackDevices();
        const QString speaker = choice - 1 < outputs.size() ? outputs[choice - 1] : action->text();
        const std::string config = configPath_;
        steps_->run(
            [s = services_, speaker, config] {
                try {
                    if (!config.empty() && !data::writeConfigIni(config, speaker.toStdString()))
                        qWarning().noquote()
                            << "config.ini could not be written:" << QString::fromStdString(config);
                    properties().set(prop::speakerPlayDevice, speaker);
                    s.stopQuibRestore();
                    s.pause(kSpeakerSwitchPauseMs);
                    s.startQuibDefault();
                } catch (const std::exception& e) {
                    qDebug() << "exception!!!" << e.what();
                    s.stopQuibRestore();
                }
            },
            [this] {
                // The monitor switch stays hidden; it is only made usable again.
                if (!ui_->muteButton->isEnabled()) ui_->muteButton->setEnabled(true);
                restartLiveChain();
            });
    } else {
        ui_->muteButton->setEnabled(false);
        ui_->muteButton->hide();
        steps_->run([s = services_] { s.stopQuibRestore(); }, [this] { restartLiveChain(); });
    }
}

}  // namespace parlune::app
