// The switcher's folder in the two trees the program runs from: the build
// tree (beside the program) and an installed prefix (libexec/parlune).
#include "app/program_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QString>

#include "tests/support/test_support.h"

namespace parlune::app {
namespace {

TEST(ProgramFiles, TheSwitcherIsFoundBesideTheProgramOrInTheInstalledTree) {
    struct Case {
        const char* what;
        std::vector<const char*> entries;  // made under the prefix; a trailing "/" makes a folder
        const char* expected;              // relative to the prefix
    };
    const Case cases[] = {
        {"build tree", {"bin/swaplane"}, "bin"},
        {"installed tree", {"libexec/parlune/swaplane"}, "libexec/parlune"},
        {"both: the one beside the program wins",
         {"bin/swaplane", "libexec/parlune/swaplane"},
         "bin"},
        {"none: the program's folder, as before", {}, "bin"},
        {"a folder of that name is no switcher", {"libexec/parlune/swaplane/"}, "bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const QString prefix = QString::fromStdString(dir.path());
        ASSERT_TRUE(QDir().mkpath(prefix + "/bin"));
        for (const char* entry : c.entries) {
            const QString path = prefix + "/" + entry;
            ASSERT_TRUE(QDir().mkpath(path.endsWith('/') ? path : path.section('/', 0, -2)));
            if (!path.endsWith('/')) {
                ASSERT_TRUE(test::writeFileBytes(path.toStdString(), "#!/bin/sh\n"));
            }
        }
        EXPECT_EQ(switcherFolder(prefix + "/bin"), prefix + "/" + c.expected);
    }
}

}  // namespace
}  // namespace parlune::app
