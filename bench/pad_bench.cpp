// Figures for the matrix pad on the window's thread: the cost of one pad move
// (the property writes, the cursor and the fields, and the redraw it asks
// for), how soon the morph's controls hold the new point, and the process's
// CPU share while a drag runs at 60 moves a second. Run it on the display a
// person would use (QT_QPA_PLATFORM=xcb under a display, or offscreen).
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/core/properties.h"
#include "app/main_window.h"
#include "assets/assets.h"
#include "tools/quiet_window_services.h"

namespace {

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void send(QWidget* plot, QEvent::Type type, QPoint at) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, plot->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(plot, &event);
}

// A point on a circle over the pad, so every move changes both coordinates.
QPoint pathPoint(const QWidget* plot, int step) {
    const double angle = step * 0.05;
    return QPoint(plot->width() / 2 + static_cast<int>(150 * std::cos(angle)),
                  plot->height() / 2 + static_cast<int>(120 * std::sin(angle)));
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath("share").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    QApplication application(argc, argv);
    parlune::assets::registerResources();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    parlune::app::MainWindow window(parlune::tools::quietServices());
    window.show();
    QApplication::processEvents();
    auto* plot = window.findChild<QCustomPlot*>(QStringLiteral("customPlot"));
    auto& properties = parlune::app::properties();

    // One move, then the redraw it asked for, as the event loop delivers it.
    constexpr int kMoves = 1000;
    std::vector<double> moveMs, untilControlsUs;
    send(plot, QEvent::MouseButtonPress, pathPoint(plot, 0));
    QApplication::processEvents();
    for (int step = 1; step <= kMoves; ++step) {
        const float before = properties.morphSnapshot().pitch;
        QElapsedTimer clock;
        clock.start();
        send(plot, QEvent::MouseMove, pathPoint(plot, step));
        const double controls = static_cast<double>(clock.nsecsElapsed()) / 1e3;
        QApplication::processEvents();
        moveMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (properties.morphSnapshot().pitch != before) untilControlsUs.push_back(controls);
    }
    send(plot, QEvent::MouseButtonRelease, pathPoint(plot, kMoves));

    // A drag at 60 moves a second for five seconds.
    int step = 0;
    QTimer mover;
    QObject::connect(&mover, &QTimer::timeout,
                     [&] { send(plot, QEvent::MouseMove, pathPoint(plot, ++step)); });
    send(plot, QEvent::MouseButtonPress, pathPoint(plot, 0));
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    mover.start(1000 / 60);
    QTimer::singleShot(5000, &application, &QCoreApplication::quit);
    QApplication::exec();
    mover.stop();
    const double cpuShare =
        (processCpuSeconds() - cpuBefore) / (static_cast<double>(wall.elapsed()) / 1e3);
    send(plot, QEvent::MouseButtonRelease, pathPoint(plot, step));

    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf(
        "pad move with its redraw: median %.3f ms, 95th percentile %.3f ms, max %.3f ms (%d "
        "moves)\n",
        percentile(moveMs, 0.5), percentile(moveMs, 0.95), percentile(moveMs, 1.0), kMoves);
    if (!untilControlsUs.empty())
        std::printf(
            "move to the morph's controls holding the new point: median %.1f us (%zu moves); "
            "the morph reads them at its next block (at most 64 ms)\n",
            percentile(untilControlsUs, 0.5), untilControlsUs.size());
    std::printf(
        "CPU share while dragging at 60 moves/s: %.1f %% of one core (%d moves in %.1f s)\n",
        100.0 * cpuShare, step, static_cast<double>(wall.elapsed()) / 1e3);
    return 0;
}
