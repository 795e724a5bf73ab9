// Window services that do nothing and list a few plausible devices: the real
// window without a sound server, the routing or the desktop, for pictures
// and figures of the window alone.
#pragma once

#include <QStringList>

#include "app/main_window.h"

namespace parlune::tools {

inline app::WindowServices quietServices() {
    app::WindowServices s;
    s.muteOtherMicrophones = [](const std::string&) {};
    s.startupCheck = [](bool) { return false; };
    s.requireVirtualDevice = [] {};
    s.startQuibDefault = [] {};
    s.stopQuibRestore = [] {};
    s.startLiveChain = [] {};
    s.openSoundControlPanel = [] {};
    s.openUrl = [](const QUrl&) {};
    s.messageBox = [](QMessageBox::Icon, const QString&, const QString&) {};
    for (auto* step : {&s.stopQuib, &s.startQuib, &s.startRecordQuib, &s.stopRecordQuib,
                       &s.convertRecording, &s.playRecording, &s.exportRecording})
        *step = [] {};
    s.recordDevices = [] {
        return QStringList{QStringLiteral("Built-in Audio Analog Stereo"),
                           QStringLiteral("USB Headset Mono"),
                           QStringLiteral("PARLUNE-01 Microphone (Parlune)")};
    };
    s.playbackDevices = [] {
        return QStringList{QStringLiteral("Built-in Audio Analog Stereo"),
                           QStringLiteral("USB Headset Analog Stereo"),
                           QStringLiteral("HDMI / DisplayPort")};
    };
    s.pause = [](int) {};
    s.execDialog = [](QDialog& dialog) { return dialog.exec(); };
    s.askExportFileName = [](QWidget*) { return QString(); };
    return s;
}

}  // namespace parlune::tools
