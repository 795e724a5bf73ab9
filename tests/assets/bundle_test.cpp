// The resource bundle is complete: every picture the window and its style
// sheets name loads at its size, nothing unlisted hides in it, the pad
// pictures light their own mode, and the embedded Roboto registers.

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QSet>

#include "assets/asset_list.h"
#include "assets/assets.h"

using parlune::assets::kPictures;

// The font library keeps caches it never frees; the sanitizer build's leak
// checker is told so, for that library only.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// The program may register the bundle by its resource name as well; the
// macro declares a function, so it sits outside any namespace.
static void initByName() { Q_INIT_RESOURCE(parlune_assets); }

namespace {

// Pixmaps and fonts need the application object; one for the whole run,
// kept reachable until exit.
void ensureApp() {
    static int argc = 1;
    static char name[] = "assets_bundle_test";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}

QString pathOf(const parlune::assets::Picture& pic) {
    return QStringLiteral(":/%1/assets/%2").arg(prefixName(pic.prefix), pic.name);
}

// Mean brightness of a region, 0..255.
double brightness(const QImage& img, const QRect& r) {
    double sum = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            sum += qGray(img.pixel(x, y)) * qAlpha(img.pixel(x, y)) / 255.0;
    return sum / (r.width() * r.height());
}

class AssetBundle : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ensureApp();
        fontsRegistered = parlune::assets::registerResources();
    }
    static inline bool fontsRegistered = false;
};

TEST_F(AssetBundle, EveryListedPictureLoadsAtItsSize) {
    for (const auto& pic : kPictures) {
        const QString path = pathOf(pic);
        SCOPED_TRACE(path.toStdString());
        const QImage img(path);
        ASSERT_FALSE(img.isNull());
        EXPECT_EQ(img.width(), pic.width);
        EXPECT_EQ(img.height(), pic.height);
        // A blank picture would load too: something must have been drawn.
        bool drawn = false;
        for (int y = 0; y < img.height() && !drawn; ++y)
            for (int x = 0; x < img.width() && !drawn; ++x) drawn = qAlpha(img.pixel(x, y)) > 0;
        EXPECT_TRUE(drawn);
    }
}

TEST_F(AssetBundle, HoldsNoPictureOutsideTheList) {
    QSet<QString> listed;
    for (const auto& pic : kPictures) listed.insert(pathOf(pic));
    int found = 0;
    for (const char* prefix : {":/fixed/assets", ":/icons/assets", ":/interactable/assets"}) {
        QDirIterator it(QString::fromLatin1(prefix), QDir::Files);
        while (it.hasNext()) {
            const QString path = it.next();
            EXPECT_TRUE(listed.contains(path)) << path.toStdString();
            ++found;
        }
    }
    EXPECT_EQ(found, static_cast<int>(kPictures.size()));
}

TEST_F(AssetBundle, PadPicturesLightTheirOwnModeButton) {
    // The mode buttons are flat and transparent: each pad picture draws both,
    // the active one lit (human at the top, cartoon below, at the right edge).
    const QImage human(":/fixed/assets/matrix_human.png");
    const QImage cartoon(":/fixed/assets/matrix_cartoon.png");
    ASSERT_FALSE(human.isNull());
    ASSERT_FALSE(cartoon.isNull());
    const QRect humanButton(418, 0, 71, 77), cartoonButton(418, 76, 71, 77);
    EXPECT_GT(brightness(human, humanButton), brightness(cartoon, humanButton) + 10);
    EXPECT_GT(brightness(cartoon, cartoonButton), brightness(human, cartoonButton) + 10);
}

TEST_F(AssetBundle, EmbeddedRobotoRegisters) {
    initByName();
    EXPECT_TRUE(fontsRegistered);
    EXPECT_TRUE(parlune::assets::registerResources()) << "a second call keeps the result";
    for (const char* font : parlune::assets::kFonts) EXPECT_TRUE(QFile::exists(font)) << font;
    const QFontDatabase db;
    EXPECT_TRUE(db.families().contains(QStringLiteral("Roboto")));
    EXPECT_TRUE(db.styles(QStringLiteral("Roboto")).contains(QStringLiteral("Bold")));
    // What a widget naming the form's other families really draws with.
    for (const char* family : parlune::assets::kFallbackFamilies)
        EXPECT_EQ(QFontInfo(QFont(QString::fromLatin1(family))).family(), QStringLiteral("Roboto"))
            << family;
}

}  // namespace
