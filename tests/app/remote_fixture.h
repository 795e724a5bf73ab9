// The window offscreen with its remote control on a private bus of the
// test's own (never the machine's), and a second connection on that bus for
// the test, as parlunectl or a desktop shortcut would have. Calls wait with
// the event loop running, so the window in this same process answers them.
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QLineEdit>
#include <QPushButton>
#include <QVariantMap>

#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <cmath>
#include <memory>
#include <string>

#include "app/core/favorites_file.h"
#include "app/remote_control.h"
#include "app/remote_names.h"
#include "tests/app/window_fixture.h"
#include "tests/support/private_bus.h"

namespace parlune::app {

class RemoteTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ASSERT_TRUE(bus_.ok()) << bus_.log();
        const QString address = QString::fromStdString(bus_.address());
        service_ = QDBusConnection::connectToBus(address, QStringLiteral("service"));
        client_ = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        ASSERT_TRUE(service_.isConnected()) << service_.lastError().message().toStdString();
        ASSERT_TRUE(client_.isConnected()) << client_.lastError().message().toStdString();
        // Every test starts from the default favorites unless it writes its own.
        fs::remove(dataFolder() / "favorites.dat");
    }
    void TearDown() override {
        window_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    }

    // Favorites with names: slot 2 "Deep One" (cartoon 0.7, 2.2), slot 4
    // "Chipmunk" (human 1.5, 1.1), the others the defaults ("-").
    static void writeNamedFavorites() {
        favorites::Table table = favorites::defaultTable();
        favorites::setName(table[2], "Deep One");
        table[2].padX = 0.7;
        table[2].padY = 2.2;
        table[2].cartoon = 1;
        favorites::setName(table[4], "Chipmunk");
        table[4].padX = 1.5;
        table[4].padY = 1.1;
        table[4].cartoon = 0;
        fs::create_directories(dataFolder());
        ASSERT_TRUE(favorites::writeFile((dataFolder() / "favorites.dat").string(), table));
    }

    // The window on screen with its remote control on the service connection.
    MainWindow& openWindow(WindowServices services = loggingServices()) {
        window_ = std::make_unique<MainWindow>(std::move(services));
        window_->show();
        QCoreApplication::processEvents();
        remote_ = RemoteControl::start(*window_, service_);
        EXPECT_NE(remote_, nullptr);
        takeLog();
        return *window_;
    }

    // A call as a client makes it; the reply or the error.
    QDBusMessage call(const char* method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QLatin1String(remote::kService), QLatin1String(remote::kPath),
            QLatin1String(remote::kInterface), QLatin1String(method));
        message.setArguments(arguments);
        QDBusPendingCall pending = client_.asyncCall(message);
        waitUntil([&] { return pending.isFinished(); }, 10000);
        return pending.reply();
    }
    QVariantMap voice() {
        const QDBusMessage reply = call("GetVoice");
        return reply.arguments().isEmpty() ? QVariantMap()
                                           : qdbus_cast<QVariantMap>(reply.arguments().first());
    }

    template <typename T>
    T* widget(const char* name) {
        return child<T>(*window_, name);
    }
    QList<QAbstractButton*> slotButtons(const char* box) {
        return widget<QDialogButtonBox>(box)->buttons();
    }
    static bool appliedLook(const QAbstractButton* button) {
        return button->styleSheet().contains(QLatin1String("#50a0ad"));
    }

    // The window, its looks and the properties agree with the voice the
    // service reports: the fields, the pad's range, which slot has the
    // applied look, each switch's button and property.
    void expectInStep(const QVariantMap& v) {
        PropertyStore& store = properties();
        const bool cartoon = v.value(remote::key::mode).toString() == QLatin1String("cartoon");
        EXPECT_EQ(store.get(prop::isCartoonMorph), cartoon);
        const double pitch = v.value(remote::key::pitch).toDouble();
        const double formant = v.value(remote::key::formant).toDouble();
        EXPECT_EQ(store.get(prop::pitch), pitch);
        EXPECT_EQ(store.get(prop::formant), formant);
        EXPECT_EQ(pitch, ui::pitchFromPad(v.value(remote::key::padX).toDouble()));
        EXPECT_EQ(widget<QLineEdit>("pitch")->text(), QString::number(pitch, 'f', 2).left(4));
        EXPECT_EQ(widget<QLineEdit>("formant")->text(), QString::number(formant, 'f', 2).left(4));
        EXPECT_EQ(widget<QCustomPlot>("customPlot")->yAxis->range().upper, cartoon ? 2.5 : 1.2);
        EXPECT_EQ(store.get(prop::warp), ui::warpFromPad(v.value(remote::key::padX).toDouble()));

        const QList<QAbstractButton*> presets = slotButtons("presetSlots");
        const QList<QAbstractButton*> favorites = slotButtons("favoriteSlots");
        for (int i = 0; i < presets.size(); ++i)
            EXPECT_EQ(appliedLook(presets[i]),
                      i + 1 == v.value(remote::key::presetPosition).toInt())
                << "preset " << i;
        for (int i = 0; i < favorites.size(); ++i)
            EXPECT_EQ(appliedLook(favorites[i]),
                      i + 1 == v.value(remote::key::favoritePosition).toInt())
                << "favorite " << i;
        const int preset = v.value(remote::key::presetPosition).toInt();
        EXPECT_EQ(v.value(remote::key::preset).toString(),
                  preset > 0 ? presets[preset - 1]->text() : QString());

        const bool recording = v.value(remote::key::recording).toBool();
        EXPECT_EQ(widget<QPushButton>("recordButton")->isChecked(), recording);
        const bool bypass = v.value(remote::key::bypass).toBool();
        EXPECT_EQ(widget<QPushButton>("dspButton")->isChecked(), !bypass);
        // A recording takes the plain voice whatever the switch shows.
        if (!recording) {
            EXPECT_EQ(store.get(prop::isDspBipassed), bypass);
        }
        struct Effect {
            const char* name;
            const char* button;
            Key<bool> key;
            bool whenOn;
        };
        const Effect effects[] = {
            {"echo", "echoButton", prop::isDspEchoBipassed, false},
            {"reverb", "reverbButton", prop::isReverb, true},
            {"chorus", "chorusButton", prop::isDspChorusBipassed, false},
            {"distortion", "distortionButton", prop::isDspDistortionBipassed, false},
            {"tremolo", "tremoloButton", prop::isDspTremoloBipassed, false},
        };
        for (const Effect& e : effects) {
            const bool on = v.value(QLatin1String(e.name)).toBool();
            EXPECT_EQ(widget<QPushButton>(e.button)->isChecked(), on) << e.name;
            EXPECT_EQ(store.get(e.key), on == e.whenOn) << e.name;
        }
    }

    test::PrivateBus bus_;
    QDBusConnection service_{QString()};
    QDBusConnection client_{QString()};
    std::unique_ptr<MainWindow> window_;
    RemoteControl* remote_ = nullptr;
};

}  // namespace parlune::app
