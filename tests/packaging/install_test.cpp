// The installed tree checked file by file, and the installed program started
// far enough to show that it loads.
#include "tests/packaging/install_fixture.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSettings>
#include <QString>

#include <filesystem>
#include <string>

#include "app/single_instance.h"

namespace fs = std::filesystem;
using parlune::test::InstalledTree;
using parlune::test::kId;
using parlune::test::ProgramResult;
using parlune::test::runProgram;

namespace {

TEST_F(InstalledTree, HoldsTheProgramsLibrariesAndSwitcherWithRelativeRunPaths) {
    struct Case {
        const char* file;
        bool program;         // executable; the libraries are not (0644)
        const char* runPath;  // "" : none; the switcher is copied to the data folder and run there
    };
    const Case cases[] = {
        {"bin/parlune", true, "$ORIGIN/../lib/parlune"},
        {"bin/parlunectl", true, ""},
        {"bin/parlune-render", true, ""},
        {"bin/parlune-vdev", true, ""},
        {"libexec/parlune/swaplane", true, ""},
        {"lib/parlune/liblooptap.so", false, ""},
        {"lib/parlune/libcapwell.so", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(fs::is_regular_file(at(c.file)));
        EXPECT_EQ(parlune::test::executable(at(c.file)), c.program);
        EXPECT_EQ(parlune::test::runPath(at(c.file)), c.runPath);
        // Every library resolves, and the program's own from this prefix.
        const ProgramResult ldd = runProgram({"ldd", at(c.file)});
        EXPECT_EQ(ldd.exitCode, 0) << ldd.output;
        EXPECT_EQ(ldd.output.find("not found"), std::string::npos) << ldd.output;
        for (const char* library : {"liblooptap.so", "libcapwell.so"}) {
            const size_t line = ldd.output.find(std::string(library) + " =>");
            if (line == std::string::npos) continue;
            const std::string resolved =
                ldd.output.substr(line, ldd.output.find('\n', line) - line);
            EXPECT_NE(resolved.find(prefix + "/bin/../lib/parlune/" + library), std::string::npos)
                << resolved;
        }
    }
}

TEST_F(InstalledTree, TheDesktopEntryMetainfoAndIconsAgree) {
    const std::string desktop = at("share/applications/" + kId + ".desktop");
    const std::string metainfo = at("share/metainfo/" + kId + ".metainfo.xml");
    ASSERT_TRUE(fs::is_regular_file(desktop));
    ASSERT_TRUE(fs::is_regular_file(metainfo));

    QSettings entry(QString::fromStdString(desktop), QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    EXPECT_TRUE(
        parlune::test::executable(at("bin/" + entry.value("Exec").toString().toStdString())));
    EXPECT_EQ(entry.value("Icon").toString().toStdString(), kId);
    EXPECT_NE(parlune::test::readFileBytes(metainfo).find("<launchable type=\"desktop-id\">" + kId +
                                                          ".desktop</launchable>"),
              std::string::npos);

    for (int size : {16, 24, 32, 48, 64, 128, 256, 512}) {
        SCOPED_TRACE(size);
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        const QImage icon(
            QString::fromStdString(at("share/icons/hicolor/" + folder + "/apps/" + kId + ".png")));
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(icon.size(), QSize(size, size));
        // Something drawn, not a blank square.
        EXPECT_GT(qAlpha(icon.pixel(size / 2, size / 2)), 0);
    }

    // The desktop's own validators, where installed (scripts/deps.sh installs both).
    if (parlune::test::onPath("desktop-file-validate")) {
        const ProgramResult r = runProgram({"desktop-file-validate", desktop});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output, "");
    }
    if (parlune::test::onPath("appstreamcli")) {
        const ProgramResult r = runProgram({"appstreamcli", "validate", "--no-net", metainfo});
        EXPECT_EQ(r.exitCode, 0) << r.output;
    }
}

// The client runs from the tree and its manual page is there, compressed.
TEST_F(InstalledTree, TheClientRunsAndHasItsManualPage) {
    const ProgramResult help = runProgram({at("bin/parlunectl"), "--help"});
    EXPECT_EQ(help.exitCode, 0) << help.output;
    EXPECT_NE(help.output.find("bindsym"), std::string::npos) << help.output;
    const ProgramResult page = runProgram({"gzip", "-dc", at("share/man/man1/parlunectl.1.gz")});
    EXPECT_EQ(page.exitCode, 0) << page.output;
    EXPECT_EQ(page.output.rfind(".TH PARLUNECTL 1 ", 0), 0u) << page.output.substr(0, 80);
}

// With the lock held by another copy the installed program ends at once with
// 0: it got as far as its own code, so the loader found every library.
TEST_F(InstalledTree, TheInstalledProgramLoadsAndRefusesASecondCopy) {
    parlune::test::TempDir runtime;
    parlune::app::SingleInstance first(runtime.file("parlune.lock"));
    ASSERT_TRUE(first.acquired());
    const ProgramResult r =
        runProgram({at("bin/parlune")},
                   {"XDG_RUNTIME_DIR=" + runtime.path(), "QT_QPA_PLATFORM=offscreen"}, 20000);
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

// The Debian package (`cpack -G DEB`, made into a folder of the test's own):
// the installed tree under /usr with the program's run path, and
// dependencies computed from the libraries the programs link.
TEST(DebianPackage, HoldsTheTreeUnderUsrAndNamesTheLibrariesPackages) {
    for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps"})
        if (!parlune::test::onPath(tool)) GTEST_SKIP() << tool << " is missing (package dpkg-dev)";
    parlune::test::TempDir dir;
    const ProgramResult made = runProgram({PARLUNE_CPACK, "--config",
                                           std::string(PARLUNE_BUILD_TREE) + "/CPackConfig.cmake",
                                           "-G", "DEB", "-B", dir.path()});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    std::string deb;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().extension() == ".deb") deb = entry.path().string();
    ASSERT_EQ(fs::path(deb).filename().string().rfind("parlune_", 0), 0u) << made.output;

    const ProgramResult fields = runProgram({"dpkg-deb", "-f", deb, "Package", "Depends"});
    ASSERT_EQ(fields.exitCode, 0) << fields.output;
    EXPECT_NE(fields.output.find("Package: parlune\n"), std::string::npos) << fields.output;
    for (const char* library : {"libqt5widgets5", "libqt5network5", "libqt5dbus5",
                                "libqcustomplot2.1", "libpulse0", "libsndfile1", "libsamplerate0"})
        EXPECT_NE(fields.output.find(library), std::string::npos) << library << "\n"
                                                                  << fields.output;

    const std::string root = dir.file("root");
    const ProgramResult unpacked = runProgram({"dpkg-deb", "-x", deb, root});
    ASSERT_EQ(unpacked.exitCode, 0) << unpacked.output;
    for (const char* file :
         {"usr/bin/parlune", "usr/bin/parlunectl", "usr/bin/parlune-render", "usr/bin/parlune-vdev",
          "usr/share/man/man1/parlunectl.1.gz", "usr/lib/parlune/liblooptap.so",
          "usr/lib/parlune/libcapwell.so", "usr/libexec/parlune/swaplane",
          "usr/share/applications/io.github.parlune.Parlune.desktop",
          "usr/share/metainfo/io.github.parlune.Parlune.metainfo.xml",
          "usr/share/icons/hicolor/48x48/apps/io.github.parlune.Parlune.png"})
        EXPECT_TRUE(fs::is_regular_file(root + "/" + file)) << file;
    EXPECT_EQ(parlune::test::runPath(root + "/usr/bin/parlune"), "$ORIGIN/../lib/parlune");
}

}  // namespace
