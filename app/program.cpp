#include "app/program.h"

#include <QApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QWindow>

#include <exception>
#include <string>

#include "app/core/properties.h"
#include "app/main_window.h"
#include "app/remote_control.h"
#include "app/signal_quit.h"
#include "app/single_instance.h"
#include "assets/assets.h"
#include "engine/engine.h"
#include "routing/routing.h"

namespace parlune::app {
namespace {

// The live run reads the property store from the mixer thread, so the store
// (a child of the application object) must outlive it: wait for the run to
// let go, but never hang the exit on it.
constexpr int kLiveChainReleaseWaitMs = 1000;

void fillIn(ProgramParts& parts) {
    if (!parts.makeWindow)
        parts.makeWindow = [] {
            auto window = std::make_unique<MainWindow>();
            startRemoteControl(*window);
            return window;
        };
    if (!parts.showCrashBox)
        parts.showCrashBox = [](const QString& title) {
            QMessageBox box(QMessageBox::NoIcon, title, QStringLiteral("Catching crash..."),
                            QMessageBox::Ok);
            box.exec();
        };
    if (!parts.waitForLiveChain) parts.waitForLiveChain = &engine::waitForLiveChainIdle;
    if (!parts.stopRouting) parts.stopRouting = &routing::stopQuibRestore;
    if (parts.lockPath.empty()) parts.lockPath = SingleInstance::defaultLockPath();
}

// Logs once how long the start took, when the window is first on screen.
class FirstExposure : public QObject {
public:
    explicit FirstExposure(QElapsedTimer since) : since_(since) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose) {
            qDebug().noquote() << QStringLiteral("Window shown after %1 ms").arg(since_.elapsed());
            watched->removeEventFilter(this);
        }
        return false;
    }

private:
    QElapsedTimer since_;
};

}  // namespace

int runProgram(int argc, char** argv, ProgramParts parts) {
    QElapsedTimer started;
    started.start();
    fillIn(parts);
    // Kept outside the handler, so a crash box has an application object.
    std::unique_ptr<QApplication> application;
    const auto ensureApplication = [&] {
        if (!application && !QApplication::instance())
            application = std::make_unique<QApplication>(argc, argv);
    };
    try {
        SingleInstance instance(parts.lockPath);
        if (!instance.acquired()) return 0;

        ensureApplication();
        if (!assets::registerResources())
            qDebug("The embedded Roboto font could not be registered");
        quitEventLoopOnSignals();

        std::unique_ptr<QWidget> window = parts.makeWindow();
        FirstExposure exposure(started);
        window->show();
        if (QWindow* handle = window->windowHandle()) handle->installEventFilter(&exposure);
        const int exitCode = QApplication::exec();

        properties().set(prop::isRunning, false);
        if (!parts.waitForLiveChain(kLiveChainReleaseWaitMs))
            qDebug("The live chain did not let go of its audio within a second");
        parts.stopRouting();
        window.reset();
        application.reset();
        return exitCode;
    } catch (const std::exception&) {
        ensureApplication();
        parts.showCrashBox(QStringLiteral("CRASH 3"));
    } catch (const std::string&) {
        ensureApplication();
        parts.showCrashBox(QStringLiteral("CRASH 2"));
    } catch (...) {
        ensureApplication();
        parts.showCrashBox(QStringLiteral("CRASH"));
        parts.stopRouting();
    }
    // Whatever failed, a live run may still read the store that goes with
    // the application object: let it finish first.
    properties().set(prop::isRunning, false);
    parts.waitForLiveChain(kLiveChainReleaseWaitMs);
    return 0;
}

}  // namespace parlune::app
