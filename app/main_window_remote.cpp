// The window's switches as the remote control reaches them: each is its
// button, clicked as a person clicks it, so the button's own handler writes
// the property and the looks follow.
#include <QAbstractButton>
#include <QPushButton>

#include "app/main_window.h"
#include "ui_main_window.h"

namespace parlune::app {

QAbstractButton* MainWindow::switchButton(Switch which) const {
    switch (which) {
        case Switch::Morph:
            return ui_->dspButton;
        case Switch::Echo:
            return ui_->echoButton;
        case Switch::Reverb:
            return ui_->reverbButton;
        case Switch::Chorus:
            return ui_->chorusButton;
        case Switch::Distortion:
            return ui_->distortionButton;
        case Switch::Tremolo:
            return ui_->tremoloButton;
    }
    return ui_->dspButton;
}

bool MainWindow::switchOn(Switch which) const { return switchButton(which)->isChecked(); }

void MainWindow::setSwitch(Switch which, bool on) {
    QAbstractButton* button = switchButton(which);
    if (button->isChecked() != on) button->click();
}

bool MainWindow::clickRecord() {
    if (!ui_->recordButton->isEnabled()) return false;
    ui_->recordButton->click();
    return true;
}

void MainWindow::connectSwitchSignals() {
    for (QAbstractButton* button :
         {switchButton(Switch::Morph), switchButton(Switch::Echo), switchButton(Switch::Reverb),
          switchButton(Switch::Chorus), switchButton(Switch::Distortion),
          switchButton(Switch::Tremolo), static_cast<QAbstractButton*>(ui_->recordButton)})
        connect(button, &QAbstractButton::toggled, this, &MainWindow::voiceChanged);
}

}  // namespace parlune::app
