// The files that cross between the program, the switcher and the
// pass-through library: PlayDev.ini, config.ini and the folders they live in.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "app/core/data_files.h"
#include "app/core/playdev_file.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
namespace data = parlune::data;
namespace playdev = parlune::playdev;

namespace {

using parlune::test::TempDir;
const auto writeBytes = parlune::test::writeFileBytes;
const auto readBytes = parlune::test::readFileBytes;

// Sets an environment variable for one scope; nullptr unsets it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

}  // namespace

TEST(PlayDevIni, ReaderFindsTheWordInUtf16Lines) {
    const auto u16 = playdev::utf8ToUtf16le;
    struct Case {
        const char* what;
        std::string bytes;
        bool expected;
    } cases[] = {
        {"virtual device name", u16("PARLUNE-01 (Parlune Virtual Audio)"), true},
        {"word in capitals only", u16("PARLUNE-01 VIRTUAL AUDIO\n"), false},
        {"a real speaker", u16("Speaker\nsink=speaker\n"), false},
        {"empty file", "", false},
        {"word on the second line", u16("Speaker\nParlune spare\n"), true},
        {"8-bit text is not UTF-16", "Parlune\n", false},
        {"Windows line ends", u16("Speaker\r\nParlune\r\n"), true},
        {"switcher record of the virtual device",
         playdev::encode({"PARLUNE-01 (Parlune Virtual Audio)", "parlune_01", ""}), true},
        {"switcher record of a real device", playdev::encode({"Speaker", "speaker", "812:4410"}),
         false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        writeBytes(dir.file("PlayDev.ini"), c.bytes);
        std::string error = "untouched";
        EXPECT_EQ(playdev::isParluneinPlayDeviceINI(dir.file("PlayDev.ini"), &error), c.expected)
            << c.what;
        EXPECT_EQ(error, "untouched") << c.what;
    }
}

TEST(PlayDevIni, MissingFileIsFalseWithTheSystemsReason) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(playdev::isParluneinPlayDeviceINI(dir.file("absent.ini"), &error));
    EXPECT_FALSE(error.empty());
}

// What stands at PlayDev.ini's place and is no small regular file is refused
// at once with a reason: a folder used to end the switcher with an uncaught
// exception, a FIFO to hang it, /dev/zero to exhaust memory.
TEST(PlayDevIni, WhatIsNoSmallRegularFileIsRefusedWithAReason) {
    TempDir dir;
    const std::string path = dir.file("PlayDev.ini");
    const struct {
        const char* what;
        std::function<void()> make;
    } kinds[] = {
        {"a folder", [&] { fs::create_directory(path); }},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
        {"a link to /dev/zero", [&] { fs::create_symlink("/dev/zero", path); }},
        {"a file of a megabyte",
         [&] { writeBytes(path, playdev::utf8ToUtf16le(std::string(1 << 19, 'P') + "arlune")); }},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.what);
        fs::remove_all(path);
        kind.make();
        std::string error;
        EXPECT_FALSE(playdev::readBytes(path, &error).has_value());
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(playdev::readFile(path).has_value());
        error.clear();
        EXPECT_FALSE(playdev::isParluneinPlayDeviceINI(path, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(PrintableText, ControlCharactersAndByteOrderMarksAreShownAsQuestionMarks) {
    const struct {
        std::string in, shown;
    } cases[] = {
        {"Speaker", "Speaker"},
        {"Haut-parleur \xC3\xA9", "Haut-parleur \xC3\xA9"},  // UTF-8 stays
        {"\xEF\xBB\xBFSpeaker", "?Speaker"},                 // a byte-order mark
        {std::string("a\0b", 3), "a?b"},
        {"\x1B[2Jcleared\r\n\x7F", "?[2Jcleared???"},  // escape sequences never reach the terminal
        {"x\xC2\x9By", "x?y"},                         // a C1 control (CSI)
    };
    for (const auto& c : cases) EXPECT_EQ(data::printable(c.in), c.shown) << c.in;
}

TEST(PlayDevIni, SwitcherRecordRoundTripsWithoutByteOrderMark) {
    const playdev::Remembered device{"Haut-parleur \xC3\xA9 \xF0\x9F\x8E\xA7",
                                     "alsa_output.pci-0000_00_1f.3", "4021:88231"};
    const std::string bytes = playdev::encode(device);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("H\0", 2));  // no byte-order mark
    EXPECT_EQ(bytes.size() % 2, 0u);
    const auto back = playdev::decode(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->friendlyName, device.friendlyName);
    EXPECT_EQ(back->sinkName, device.sinkName);
    EXPECT_EQ(back->run, device.run);
    // A record of an older switcher has no run.
    const auto older = playdev::decode(playdev::utf8ToUtf16le("Speaker\nsink=speaker\n"));
    ASSERT_TRUE(older.has_value());
    EXPECT_EQ(older->run, "");

    EXPECT_FALSE(playdev::decode("").has_value());
    EXPECT_FALSE(playdev::decode(playdev::utf8ToUtf16le("Speaker\n")).has_value());
    EXPECT_EQ(playdev::utf16leToUtf8(playdev::utf8ToUtf16le("bad \xC3 end")),
              "bad \xEF\xBF\xBD end");

    TempDir dir;
    ASSERT_TRUE(playdev::writeFile(dir.file("PlayDev.ini"), device));
    EXPECT_EQ(readBytes(dir.file("PlayDev.ini")), bytes);
    EXPECT_FALSE(playdev::writeFile(dir.file("no/such/folder/PlayDev.ini"), device));
}

TEST(ConfigIni, HoldsExactlyTheNamesBytes) {
    TempDir dir;
    const std::string path = dir.file("config.ini");
    ASSERT_TRUE(data::writeConfigIni(path, "Speakers"));
    EXPECT_EQ(readBytes(path), "Speakers");
    ASSERT_TRUE(data::writeConfigIni(path, "Hi"));  // replaces, never appends
    EXPECT_EQ(readBytes(path), "Hi");
    const std::string utf8Name = "Casque \xC3\xA9lectrique";
    ASSERT_TRUE(data::writeConfigIni(path, utf8Name));
    EXPECT_EQ(readBytes(path), utf8Name);

    EXPECT_FALSE(data::writeConfigIni(dir.file("missing/config.ini"), "Speakers"));
    EXPECT_FALSE(fs::exists(dir.file("missing")));
    // A write that cannot be completed leaves the old name.
    fs::create_directory(dir.file("folder.ini"));
    EXPECT_FALSE(data::writeConfigIni(dir.file("folder.ini"), "Speakers"));
    EXPECT_TRUE(fs::is_directory(dir.file("folder.ini")));
    EXPECT_EQ(readBytes(path), utf8Name);
}

TEST(DataFolders, FollowTheXdgVariablesWithHomeFallbacks) {
    {
        ScopedEnv data("XDG_DATA_HOME", "/x/data"), run("XDG_RUNTIME_DIR", "/run/user/7");
        EXPECT_EQ(data::dataFolder(), "/x/data/Parlune");
        EXPECT_EQ(data::configIniPath(), "/x/data/Parlune/config.ini");
        EXPECT_EQ(data::playDevIniPath(), "/run/user/7/PlayDev.ini");
    }
    {
        ScopedEnv home("HOME", "/home/ann"), data("XDG_DATA_HOME", nullptr),
            run("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(data::dataFolder(), "/home/ann/.local/share/Parlune");
        EXPECT_EQ(data::perUserTempFolder(), "/home/ann/.cache");
    }
    {
        ScopedEnv home("HOME", nullptr), data("XDG_DATA_HOME", nullptr);
        EXPECT_EQ(data::dataFolder(), "");
        EXPECT_FALSE(data::prepareDataFolder("/nowhere"));
    }
}

TEST(DataFolders, PrepareCreatesMediaAndCopiesTheSwitcher) {
    TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", dir.file("share").c_str());
    fs::create_directories(dir.file("bin"));
    writeBytes(dir.file("bin/swaplane"), "switcher v2");
    fs::create_directories(data::dataFolder());
    writeBytes(data::switcherPath(), "switcher v1");

    ASSERT_TRUE(data::prepareDataFolder(dir.file("bin")));
    EXPECT_TRUE(fs::is_directory(data::dataFolder() + "/media"));
    EXPECT_EQ(readBytes(data::switcherPath()), "switcher v2");
    EXPECT_TRUE(data::prepareDataFolder(dir.file("bin")));  // again: harmless
    EXPECT_FALSE(data::prepareDataFolder(dir.file("empty")));
}
