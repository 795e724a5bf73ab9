// parlune-screenshots FOLDER: shows the real window (its audio and routing
// replaced by nothing, so no sound server is needed) and saves a picture of
// the screen around it in each state a person meets: start with the headset
// warning, after the warning, both pad modes, every help slide, and the
// how-to picture with the setup menu open. Run it on a display (scripts/
// screenshots.sh starts a private Xvfb), so menus, which are windows of their
// own, are in the pictures.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "assets/assets.h"

namespace {

using parlune::app::MainWindow;
using parlune::app::WindowServices;

WindowServices quietServices() {
    WindowServices s;
    s.muteOtherMicrophones = [](const std::string&) {};
    s.startupCheck = [](bool) { return false; };
    s.requireVirtualDevice = [] {};
    s.startQuibDefault = [] {};
    s.stopQuibRestore = [] {};
    s.startLiveChain = [] {};
    s.openSoundControlPanel = [] {};
    s.openUrl = [](const QUrl&) {};
    s.messageBox = [](QMessageBox::Icon, const QString&, const QString&) {};
    return s;
}

void settle(int ms = 150) {
    QTimer wait;
    wait.setSingleShot(true);
    wait.start(ms);
    while (wait.isActive()) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(const QWidget& window, const QString& folder, const QString& name) {
    const QRect area = window.frameGeometry();
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(),
                                                                      area.width(), area.height());
    const QString path = QDir(folder).filePath(name + ".png");
    const bool ok = shot.save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

void click(MainWindow& window, const char* name) {
    if (auto* button = window.findChild<QAbstractButton*>(name)) button->click();
    settle();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: parlune-screenshots FOLDER\n");
        return 2;
    }
    // The window's data folder and lock stay out of the user's.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath("share").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    // Pictures only: no usage ping, no update check.
    qputenv("PARLUNE_PING_TID", "");
    qputenv("PARLUNE_UPDATE_FEED", "");
    QApplication application(argc, argv);
    parlune::assets::registerResources();
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    MainWindow window(quietServices());
    window.move(0, 0);
    window.show();
    settle(600);
    bool ok = save(window, folder, "01-start-headset-warning");
    QMetaObject::invokeMethod(&window, "hideWarningLabel");
    settle();
    ok &= save(window, folder, "02-after-warning");
    click(window, "toggleCartoon");
    ok &= save(window, folder, "03-cartoon-pad");
    click(window, "toggleHuman");
    ok &= save(window, folder, "04-human-pad");

    click(window, "helpButton");
    ok &= save(window, folder, "05-help-slide-1");
    click(window, "nextSlideButton");
    ok &= save(window, folder, "06-help-slide-2");
    click(window, "nextSlideButton");
    ok &= save(window, folder, "07-help-slide-3-how-to");
    click(window, "nextSlideButton");
    ok &= save(window, folder, "08-help-slide-4");
    click(window, "closeHelpButton");

    // The setup menu runs its own loop (and the button's menu another after
    // it): take the picture from inside, then close whatever pops up.
    QTimer::singleShot(700, [&] { ok &= save(window, folder, "09-how-to-with-setup-menu"); });
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    });
    QTimer::singleShot(900, [&] { closer.start(100); });
    click(window, "setupButton");
    closer.stop();
    settle();
    click(window, "closeHelpButton");
    return ok ? 0 : 1;
}
