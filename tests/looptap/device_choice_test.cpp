// How Looptap picks its devices from config.ini and the device names, as one
// table: each row writes (or removes) config.ini, cuts the names as the
// capability records do, and asks for the playback or the capture choice.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/core/data_files.h"
#include "looptap/config.h"
#include "platform/wave/wave.h"

namespace lt = parlune::looptap;
namespace fs = std::filesystem;

namespace {

enum class Side { Playback, Capture };
constexpr auto kNoCaps = std::nullopt;

struct Row {
    const char* what;
    Side side;
    std::optional<std::string> config;  // nullopt: no config.ini
    std::vector<std::optional<std::string>> devices;
    int expected;
    bool firstStart = true;        // before the choice
    bool firstStartAfter = false;  // after it (playback rows)
};

const std::string kLongSecond = "USB Headset Pro Y Analog Stereo Right channel";
const std::string kSalon = "Enceinte numérique du salon — stéréo";  // cut inside "—"

const std::vector<Row> kRows = {
    {"no config.ini: first device past the screen",
     Side::Playback,
     std::nullopt,
     {"Speaker", "Headphones"},
     0},
    {"empty first line: first device past the screen",
     Side::Playback,
     "",
     {"Speaker", "Headphones"},
     0},
    {"exact name", Side::Playback, "Headphones", {"Speaker", "Headphones"}, 1},
    {"part of a name, case kept", Side::Playback, "phones", {"Speaker", "Headphones"}, 1},
    {"names compare with their case", Side::Playback, "headphones", {"Speaker", "Headphones"}, 0},
    {"one trailing line feed removed",
     Side::Playback,
     "Headphones\n",
     {"Speaker", "Headphones"},
     1},
    {"a line end written as CR LF", Side::Playback, "Headphones\r\n", {"Speaker", "Headphones"}, 1},
    // A kept CR would look for "Headphones\r" and fall back to Speaker.
    {"a lone CR at the end", Side::Playback, "Headphones\r", {"Speaker", "Headphones"}, 1},
    {"only the first line counts",
     Side::Playback,
     "Headphones\nSpeaker",
     {"Speaker", "Headphones"},
     1},
    {"a first line longer than 99 bytes",
     Side::Playback,
     "Headphones" + std::string(200, 'x'),
     {"Speaker", "Headphones" + std::string(30, 'x')},
     1},
    {"names longer than 31 are matched on their first 31",
     Side::Playback,
     kLongSecond,
     {"USB Headset Pro X Analog Stereo Left channel", kLongSecond},
     1},
    {"UTF-8 names cut inside a character still match",
     Side::Playback,
     kSalon,
     {"Enceinte numérique du séjour — stéréo", kSalon},
     1},
    {"virtual, fake and the product name in any case are never chosen",
     Side::Playback,
     "",
     {"VIRTUAL Cable", "Line ViRtUaL out", "Fake Speaker", "FAKE",
      "PARLUNE-01 (Parlune Virtual Audio)", "parlune monitor", "pArLuNe", "Speaker"},
     7},
    {"the configured name is screened too",
     Side::Playback,
     "PARLUNE-01",
     {"Speaker", "PARLUNE-01 (Parlune Virtual Audio)"},
     0},
    {"devices whose caps cannot be read are skipped", Side::Playback, "", {kNoCaps, "Speaker"}, 1},
    {"nothing past the screen: no device, first start still pending",
     Side::Playback,
     "Speaker",
     {"Virtual Speaker", "Fake Speaker"},
     -1,
     true,
     true},
    {"later start, name not found: still the first real speaker, never device 0",
     Side::Playback,
     "Gone",
     {"PARLUNE-01 (Parlune Virtual Audio)", "Speaker", "Headphones"},
     1,
     false,
     false},

    {"capture: the remapped virtual microphone",
     Side::Capture,
     std::nullopt,
     {"Microphone", "PARLUNE-01 Microphone (Parlune Virtual Audio)"},
     1},
    {"capture: MIDI in any case is skipped, product name needs its case",
     Side::Capture,
     std::nullopt,
     {"Parlune MIDI In", "Parlune midi port", "parlune mic", "PARLUNE MIC", "Parlune Mic"},
     4},
    {"capture: the product name only in capitals does not qualify",
     Side::Capture,
     std::nullopt,
     {"PARLUNE-01 MICROPHONE"},
     -1},
    {"capture: unreadable caps skipped, first one that qualifies",
     Side::Capture,
     std::nullopt,
     {kNoCaps, "Parlune A", "Parlune B"},
     1},
};

class DeviceChoice : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/looptap-choice.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dataHome_ = pattern;
        const char* old = std::getenv("XDG_DATA_HOME");
        if (old) oldDataHome_ = old;
        setenv("XDG_DATA_HOME", dataHome_.c_str(), 1);
    }
    void TearDown() override {
        if (oldDataHome_)
            setenv("XDG_DATA_HOME", oldDataHome_->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
        fs::remove_all(dataHome_);
    }
    std::string dataHome_;
    std::optional<std::string> oldDataHome_;
};

}  // namespace

TEST_F(DeviceChoice, FollowsTheTable) {
    const fs::path config = fs::path(dataHome_) / "Parlune" / "config.ini";
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        fs::remove(config);
        if (row.config) {
            fs::create_directories(config.parent_path());
            std::ofstream(config, std::ios::binary) << *row.config;
        }
        lt::DeviceNames names;
        for (const auto& device : row.devices)
            names.push_back(device ? std::optional(parlune::wave::capsName(*device))
                                   : std::nullopt);
        if (row.side == Side::Capture) {
            EXPECT_EQ(lt::ChooseCaptureDevice(names), row.expected);
            continue;
        }
        const std::string wanted = lt::ReadPlaybackDeviceName();
        EXPECT_LE(wanted.size(), 31u);
        bool firstStart = row.firstStart;
        EXPECT_EQ(lt::ChoosePlaybackDevice(names, wanted, &firstStart), row.expected);
        EXPECT_EQ(firstStart, row.firstStartAfter);
    }
}

TEST_F(DeviceChoice, TheDataFolderIsMadeWhenMissingAndFoundUnderHomeWithoutXdg) {
    EXPECT_EQ(parlune::data::dataFolder(), dataHome_ + "/Parlune");
    EXPECT_EQ(lt::ReadPlaybackDeviceName(), "");
    EXPECT_TRUE(fs::is_directory(dataHome_ + "/Parlune"));

    const char* home = std::getenv("HOME");
    const std::string oldHome = home ? home : "";
    unsetenv("XDG_DATA_HOME");
    const std::string plainFile = dataHome_ + "/plain-file";
    std::ofstream(plainFile) << "x";
    setenv("HOME", plainFile.c_str(), 1);
    EXPECT_EQ(parlune::data::dataFolder(), plainFile + "/.local/share/Parlune");
    EXPECT_EQ(lt::ReadPlaybackDeviceName(), "");  // cannot be made: empty name
    unsetenv("HOME");
    EXPECT_EQ(parlune::data::dataFolder(), "");
    if (home) setenv("HOME", oldHome.c_str(), 1);
}

// What stands at config.ini's place and is no file gives no name, at once: a
// FIFO used to block StartPlaying until someone wrote into it.
TEST_F(DeviceChoice, AConfigIniThatIsNoRegularFileGivesNoName) {
    const fs::path config = fs::path(dataHome_) / "Parlune" / "config.ini";
    const struct {
        const char* what;
        std::function<void()> make;
    } kinds[] = {
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(config.c_str(), 0600), 0); }},
        {"a folder", [&] { fs::create_directory(config); }},
        {"a link to /dev/zero", [&] { fs::create_symlink("/dev/zero", config); }},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.what);
        fs::create_directories(config.parent_path());
        fs::remove_all(config);
        kind.make();
        EXPECT_EQ(lt::ReadPlaybackDeviceName(), "");
    }
}
