// The main window built offscreen on the in-process audio backend, with the
// routing and the desktop replaced by hooks that write into the same log as
// the window's own debug lines, so the order of what happens reads from one
// list.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <ostream>
#include <string>

#include "app/core/properties.h"
#include "app/main_window.h"
#include "assets/assets.h"
#include "engine/engine.h"

// Readable failures: gtest finds these through the argument's namespace.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace parlune::app {

namespace fs = std::filesystem;

inline std::mutex logMutex;
inline QStringList logLines;

inline void note(const QString& line) {
    std::lock_guard<std::mutex> lock(logMutex);
    logLines << line;
}

inline void collect(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg) note(message);
}

// The log so far, left in place.
inline QStringList takeLogPeek() {
    std::lock_guard<std::mutex> lock(logMutex);
    return logLines;
}

inline QStringList takeLog() {
    std::lock_guard<std::mutex> lock(logMutex);
    QStringList lines = logLines;
    logLines.clear();
    return lines;
}

// The world outside the window, as hooks that only log. stillDefault is the
// start-up check's answer.
inline WindowServices loggingServices(bool stillDefault = false) {
    WindowServices s;
    s.muteOtherMicrophones = [](const std::string& name) {
        note(QStringLiteral("hook: mute(%1) formant=%2")
                 .arg(QString::fromStdString(name))
                 .arg(properties().get(prop::formant)));
    };
    s.startupCheck = [stillDefault](bool named) {
        note(QStringLiteral("hook: startupCheck(%1) speaker=%2")
                 .arg(named)
                 .arg(properties().get(prop::speakerPlayDevice)));
        return stillDefault;
    };
    s.requireVirtualDevice = [] { note(QStringLiteral("hook: requireVirtualDevice")); };
    s.startQuibDefault = [] { note(QStringLiteral("hook: startQuibDefault")); };
    s.stopQuibRestore = [] { note(QStringLiteral("hook: stopQuibRestore")); };
    s.startLiveChain = [] {
        note(QStringLiteral("hook: startLiveChain isRunning=%1")
                 .arg(properties().get(prop::isRunning)));
    };
    s.openSoundControlPanel = [] { note(QStringLiteral("hook: openSoundControlPanel")); };
    s.openUrl = [](const QUrl& url) { note(QStringLiteral("hook: openUrl ") + url.toString()); };
    s.messageBox = [](QMessageBox::Icon, const QString& title, const QString& text) {
        note(QStringLiteral("hook: box %1 / %2").arg(title, text));
    };
    s.stopQuib = [] { note(QStringLiteral("hook: stopQuib")); };
    s.startQuib = [] { note(QStringLiteral("hook: startQuib")); };
    s.startRecordQuib = [] { note(QStringLiteral("hook: startRecordQuib")); };
    s.stopRecordQuib = [] { note(QStringLiteral("hook: stopRecordQuib")); };
    s.convertRecording = [] { note(QStringLiteral("hook: convert")); };
    s.playRecording = [] { note(QStringLiteral("hook: play")); };
    s.exportRecording = [] {
        note(QStringLiteral("hook: export ") + properties().get(prop::fname));
    };
    s.recordDevices = [] { return engine::recordDriverNames(); };
    s.playbackDevices = [] { return engine::playbackDriverNames(); };
    s.pause = [](int ms) { note(QStringLiteral("hook: pause %1").arg(ms)); };
    s.execDialog = [](QDialog& dialog) {
        note(QStringLiteral("hook: dialog ") + dialog.windowTitle());
        return static_cast<int>(QDialog::Rejected);
    };
    s.askExportFileName = [](QWidget*) { return QString(); };
    s.recordTickMs = 1;
    return s;
}

inline std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeAll(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Each test runs in a process of its own: private folders, no server.
        char pattern[] = "/tmp/parlune-window.XXXXXX";
        root_ = new fs::path(mkdtemp(pattern));
        fs::create_directories(*root_ / "share");
        fs::create_directories(*root_ / "run");
        setenv("XDG_DATA_HOME", (*root_ / "share").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (*root_ / "run").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("PARLUNE_AUDIO_BACKEND", "inprocess", 1);
        // No usage ping and no update check, whatever this build's defaults.
        setenv("PARLUNE_PING_TID", "", 1);
        setenv("PARLUNE_UPDATE_FEED", "", 1);
        unsetenv("DO_NOT_TRACK");
        static int argc = 1;
        static char name[] = "app_main_window_test";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        assets::registerResources();
        qInstallMessageHandler(collect);
    }
    static void TearDownTestSuite() {
        qInstallMessageHandler(nullptr);
        delete app_;
        std::error_code ec;
        fs::remove_all(*root_, ec);
        delete root_;
    }
    void SetUp() override { takeLog(); }

    // Runs the event loop until `done` or the timeout; `done` once more at the end.
    static bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    }

    template <typename T>
    static T* child(MainWindow& window, const char* name) {
        T* widget = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    static fs::path dataFolder() { return *root_ / "share" / "Parlune"; }

    static inline QApplication* app_ = nullptr;
    static inline fs::path* root_ = nullptr;
};

}  // namespace parlune::app
