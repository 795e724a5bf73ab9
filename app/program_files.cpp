#include "app/program_files.h"

#include <QDir>
#include <QFileInfo>

namespace parlune::app {

QString switcherFolder(const QString& programFolder) {
    const auto holdsSwitcher = [](const QString& folder) {
        return QFileInfo(folder + QStringLiteral("/swaplane")).isFile();
    };
    if (holdsSwitcher(programFolder)) return programFolder;
    const QString installed =
        QDir::cleanPath(programFolder + QStringLiteral("/../libexec/parlune"));
    return holdsSwitcher(installed) ? installed : programFolder;
}

}  // namespace parlune::app
