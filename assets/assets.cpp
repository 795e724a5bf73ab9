#include "assets/assets.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

#include "assets/asset_list.h"

// Q_INIT_RESOURCE declares a function and so cannot sit inside a namespace.
static void initBundle() { Q_INIT_RESOURCE(parlune_assets); }

namespace parlune::assets {

bool registerResources() {
    static bool fontsOk = [] {
        initBundle();
        bool ok = true;
        for (const char* path : kFonts) {
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(path));
            ok = ok && id >= 0 &&
                 QFontDatabase::applicationFontFamilies(id).contains(QStringLiteral("Roboto"));
        }
        // The form names two more families, for the hint and the record
        // button; neither ships with the program, so both draw in Roboto.
        for (const char* family : kFallbackFamilies)
            QFont::insertSubstitution(QString::fromLatin1(family), QStringLiteral("Roboto"));
        return ok;
    }();
    return fontsOk;
}

}  // namespace parlune::assets
