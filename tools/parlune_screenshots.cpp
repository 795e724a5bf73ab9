// parlune-screenshots FOLDER: shows the real window (its audio and routing
// replaced by nothing, so no sound server is needed) and saves a picture of
// the screen around it in each state a person meets: start with the headset
// warning, after the warning, both pad modes, every help slide, and the
// how-to picture with the setup menu open. Run it on a display (scripts/
// screenshots.sh starts a private Xvfb), so menus, which are windows of their
// own, are in the pictures.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "app/main_window.h"
#include "assets/assets.h"
#include "tools/quiet_window_services.h"

namespace {

using parlune::app::MainWindow;
using parlune::tools::quietServices;

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

// A double click as a person makes it: the first click checks the button.
void doubleClick(QAbstractButton* button) {
    button->setChecked(true);
    const QPoint at(30, 12);
    QMouseEvent event(QEvent::MouseButtonDblClick, at, button->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &event);
    settle();
}

// Presses a button whose press opens a menu or dialog with a loop of its
// own: the picture is taken from inside, then the popup or dialog closes.
bool shootWhileOpen(MainWindow& window, const QString& folder, const QString& name,
                    const std::function<void()>& open) {
    bool ok = false;
    QTimer::singleShot(500, [&] {
        ok = save(window, folder, name);
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        if (QWidget* modal = QApplication::activeModalWidget())
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    });
    open();
    settle(700);
    return ok;
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

    // A preset applied, then the favorites page with its name dialog.
    const QList<QAbstractButton*> presets =
        window.findChild<QDialogButtonBox*>("presetSlots")->buttons();
    doubleClick(presets.value(6));  // ROBOT
    ok &= save(window, folder, "10-preset-applied");
    window.findChild<QRadioButton*>("favoritesTab")->setChecked(true);
    window.findChild<QDialogButtonBox*>("favoriteSlots")->buttons().value(1)->setChecked(true);
    settle();
    ok &= shootWhileOpen(window, folder, "11-favorites-name-dialog",
                         [&] { click(window, "savePresetButton"); });
    window.findChild<QRadioButton*>("presetsTab")->setChecked(true);
    settle();

    // The two device menus, each as a press opens it.
    for (const char* list : {"InputList", "OutputList"}) {
        auto* button = window.findChild<QPushButton*>(list);
        const QPoint at(40, 10);
        QMouseEvent press(QEvent::MouseButtonPress, at, button->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(button, &press);
        ok &= shootWhileOpen(window, folder,
                             QStringLiteral("%1-%2-menu")
                                 .arg(list[0] == 'I' ? 12 : 13)
                                 .arg(list[0] == 'I' ? "input" : "output"),
                             [&] { button->click(); });
    }

    // A recording three seconds in.
    click(window, "recordButton");
    settle(3100);
    ok &= save(window, folder, "14-recording-countdown");
    click(window, "recordButton");
    settle(300);
    window.waitForBackgroundSteps();
    return ok ? 0 : 1;
}
