#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "app/core/data_files.h"
#include "app/core/playdev_file.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tests/support/run_program.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using parlune::test::binPath;
using parlune::test::ProgramResult;
using parlune::test::runProgram;

namespace {

class Swaplane : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/parlune swaplane XXXXXX";
        runtimeDir = mkdtemp(pattern);
        if (!client.connected()) return;
        originalDefault = client.defaultSinkName();
        parlune::vdev::ensureVirtualDevice(client);
    }
    void TearDown() override {
        if (client.connected()) {
            client.setDefaultSink(originalDefault);
            parlune::vdev::removeVirtualDevice(client);
            for (int64_t m : loaded) client.unloadModule(static_cast<uint32_t>(m));
        }
        fs::remove_all(runtimeDir);
    }
    ProgramResult swaplane(const std::string& command) {
        return runProgram({binPath("swaplane"), command}, {"XDG_RUNTIME_DIR=" + runtimeDir});
    }
    std::string iniPath() const { return runtimeDir + "/PlayDev.ini"; }

    parlune::pulse::PulseClient client{"Parlune swaplane test"};
    std::string runtimeDir;
    std::string originalDefault;
    std::vector<int64_t> loaded;
};

}  // namespace

TEST_F(Swaplane, SetplayThenRestoreplayReturnsToTheOriginalSink) {
    PARLUNE_NEED_PULSE();
    ASSERT_EQ(originalDefault, "speaker");
    auto set = swaplane("setplay");
    ASSERT_EQ(set.exitCode, 0) << set.output;
    EXPECT_EQ(client.defaultSinkName(), "parlune_01");
    const auto remembered = parlune::playdev::readFile(iniPath());
    ASSERT_TRUE(remembered.has_value());
    EXPECT_EQ(remembered->sinkName, "speaker");
    EXPECT_EQ(remembered->friendlyName, "Speaker");
    EXPECT_FALSE(parlune::playdev::isParluneinPlayDeviceINI(iniPath()));

    // A second setplay must not remember the virtual device as the previous one.
    auto again = swaplane("setplay");
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(parlune::playdev::readFile(iniPath())->sinkName, "speaker");

    auto restore = swaplane("restoreplay");
    EXPECT_EQ(restore.exitCode, 0) << restore.output;
    EXPECT_EQ(client.defaultSinkName(), "speaker");
}

TEST_F(Swaplane, VirtualDeviceAlreadyDefaultWithoutRecordIsRememberedAsSuch) {
    PARLUNE_NEED_PULSE();
    ASSERT_TRUE(client.setDefaultSink("parlune_01"));
    auto set = swaplane("setplay");
    EXPECT_EQ(set.exitCode, 0) << set.output;
    EXPECT_TRUE(parlune::playdev::isParluneinPlayDeviceINI(iniPath()));
    auto restore = swaplane("restoreplay");
    EXPECT_EQ(restore.exitCode, 1) << restore.output;
    EXPECT_EQ(client.defaultSinkName(), "parlune_01");
}

TEST_F(Swaplane, RestoringADeviceThatIsGoneLeavesTheDefaultAlone) {
    PARLUNE_NEED_PULSE();
    const int64_t module = client.loadModule("module-null-sink", "sink_name=swaplane_gone");
    ASSERT_GE(module, 0);
    ASSERT_TRUE(client.setDefaultSink("swaplane_gone"));
    ASSERT_EQ(swaplane("setplay").exitCode, 0);
    ASSERT_TRUE(client.unloadModule(static_cast<uint32_t>(module)));

    auto restore = swaplane("restoreplay");
    EXPECT_EQ(restore.exitCode, 1);
    EXPECT_NE(restore.output.find("no longer exists"), std::string::npos) << restore.output;
    EXPECT_EQ(client.defaultSinkName(), "parlune_01");
}

TEST_F(Swaplane, RefusesWithoutVirtualDeviceOrRecord) {
    PARLUNE_NEED_PULSE();
    auto restore = swaplane("restoreplay");  // nothing remembered yet
    EXPECT_EQ(restore.exitCode, 1) << restore.output;
    EXPECT_EQ(client.defaultSinkName(), "speaker");

    parlune::vdev::removeVirtualDevice(client);
    auto set = swaplane("setplay");
    EXPECT_EQ(set.exitCode, 1) << set.output;
    EXPECT_EQ(client.defaultSinkName(), "speaker");
    EXPECT_FALSE(fs::exists(iniPath()));

    EXPECT_EQ(runProgram({binPath("swaplane")}).exitCode, 2);
    EXPECT_EQ(runProgram({binPath("swaplane"), "SETPLAY"}).exitCode, 2);
}

// An unreadable PlayDev.ini ends the switcher with exit code 1 and a reason,
// at once: a folder used to abort it (exit 134), a FIFO to hang it forever.
TEST_F(Swaplane, AnUnreadableRecordIsRefusedWithAReason) {
    PARLUNE_NEED_PULSE();
    const struct {
        const char* what;
        void (*make)(const std::string& path);
    } kinds[] = {
        {"a folder", [](const std::string& path) { fs::create_directory(path); }},
        {"a FIFO", [](const std::string& path) { mkfifo(path.c_str(), 0600); }},
        {"a link to /dev/zero",
         [](const std::string& path) { fs::create_symlink("/dev/zero", path); }},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.what);
        fs::remove_all(iniPath());
        kind.make(iniPath());
        const auto restore = swaplane("restoreplay");
        EXPECT_EQ(restore.exitCode, 1) << restore.output;
        EXPECT_FALSE(restore.timedOut);
        EXPECT_NE(restore.output.find("PlayDev.ini"), std::string::npos) << restore.output;
        EXPECT_EQ(client.defaultSinkName(), "speaker");
        // setplay with PARLUNE-01 already the default reads the record too.
        ASSERT_TRUE(client.setDefaultSink("parlune_01"));
        const auto set = swaplane("setplay");
        EXPECT_GE(set.exitCode, 0) << set.output;
        EXPECT_LE(set.exitCode, 1) << set.output;
        EXPECT_FALSE(set.timedOut);
        ASSERT_TRUE(client.setDefaultSink("speaker"));
    }
}

// Within one run of the program (here: the test process starts every
// switcher) a second setplay keeps the device it remembered first, whatever
// the default became meanwhile, as after a server restart; a device that is
// gone, or a record of another run, is replaced by the current default.
TEST_F(Swaplane, ASecondSetplayOfTheSameRunKeepsTheDeviceRememberedFirst) {
    PARLUNE_NEED_PULSE();
    ASSERT_EQ(swaplane("setplay").exitCode, 0);
    const auto first = parlune::playdev::readFile(iniPath());
    ASSERT_TRUE(first.has_value());
    ASSERT_EQ(first->sinkName, "speaker");
    EXPECT_FALSE(first->run.empty());

    ASSERT_TRUE(client.setDefaultSink("headphones"));  // a restarted server's choice
    const auto again = swaplane("setplay");
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(client.defaultSinkName(), "parlune_01");
    EXPECT_EQ(parlune::playdev::readFile(iniPath())->sinkName, "speaker");
    ASSERT_EQ(swaplane("restoreplay").exitCode, 0);
    EXPECT_EQ(client.defaultSinkName(), "speaker");

    struct Case {
        const char* what;
        parlune::playdev::Remembered earlier;
    } cases[] = {{"a device that is gone", {"Gone", "swaplane_gone_device", first->run}},
                 {"a record of another run", {"Headphones", "headphones", "1:1"}},
                 {"a record of an older switcher", {"Headphones", "headphones", ""}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(parlune::playdev::writeFile(iniPath(), c.earlier));
        ASSERT_TRUE(client.setDefaultSink("speaker"));
        const auto set = swaplane("setplay");
        EXPECT_EQ(set.exitCode, 0) << set.output;
        const auto now = parlune::playdev::readFile(iniPath());
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(now->sinkName, "speaker");
        EXPECT_EQ(now->run, first->run);
    }
}

// Text from PlayDev.ini reaches the terminal without its control characters.
TEST_F(Swaplane, RecordedNamesArePrintedWithoutControlCharacters) {
    PARLUNE_NEED_PULSE();
    ASSERT_TRUE(parlune::playdev::writeFile(
        iniPath(), {"\xEF\xBB\xBFGone\x1B[2J", std::string("swaplane_\x07gone\0x", 16), ""}));
    const auto restore = swaplane("restoreplay");
    EXPECT_EQ(restore.exitCode, 1) << restore.output;
    EXPECT_NE(restore.output.find("?Gone?[2J (swaplane_?gone?x) no longer exists"),
              std::string::npos)
        << restore.output;
    EXPECT_EQ(restore.output.find('\x1B'), std::string::npos);
    EXPECT_EQ(restore.output.find('\x07'), std::string::npos);
}
