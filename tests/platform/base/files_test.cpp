// Reading only regular files of bounded size, and replacing a file only when
// its new content was written completely.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/base/files.h"
#include "tests/support/test_support.h"

namespace parlune::base {
namespace {

namespace fs = std::filesystem;
using test::readFileBytes;
using test::TempDir;
using test::writeFileBytes;

// Files in the folder besides the given ones: a replaced file leaves no
// partial file behind.
int entriesIn(const std::string& folder) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(ReadRegularFile, RefusesWhatIsNoRegularFileOfBoundedSize) {
    TempDir dir;
    const std::string path = dir.file("input");
    const struct {
        const char* what;
        std::function<void()> make;
        bool read;
        std::string reason;  // part of the message
    } cases[] = {
        {"a regular file", [&] { writeFileBytes(path, "1234"); }, true, ""},
        {"an empty file", [&] { writeFileBytes(path, ""); }, true, ""},
        {"a file at the limit", [&] { writeFileBytes(path, "12345678"); }, true, ""},
        {"a link to a regular file",
         [&] {
             writeFileBytes(dir.file("target"), "1234");
             fs::create_symlink(dir.file("target"), path);
         },
         true, ""},
        {"missing", [] {}, false, "No such file"},
        {"a folder", [&] { fs::create_directory(path); }, false, "folder"},
        // Opening a FIFO for reading would wait for a writer forever.
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, false, "not a regular file"},
        // /dev/zero never ends.
        {"a link to /dev/zero", [&] { fs::create_symlink("/dev/zero", path); }, false,
         "not a regular file"},
        {"a file over the limit", [&] { writeFileBytes(path, "123456789"); }, false, "larger"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(path);
        fs::remove_all(dir.file("target"));
        c.make();
        std::string bytes = "untouched", error;
        EXPECT_EQ(readRegularFile(path, 8, &bytes, &error), c.read);
        if (c.read) {
            EXPECT_EQ(bytes, readFileBytes(path));
        } else {
            EXPECT_EQ(bytes, "untouched");
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        }
    }
}

TEST(ReplacedFile, ReplacesTheTargetOnlyWhenWrittenCompletely) {
    TempDir dir;
    const std::string target = dir.file("target");
    ASSERT_TRUE(writeFileBytes(target, "old"));

    // Not committed: the target stays, the partial file goes.
    {
        ReplacedFile file(target);
        ASSERT_TRUE(file.valid());
        EXPECT_EQ(fs::path(file.path()).parent_path(), fs::path(dir.path()));
        ASSERT_TRUE(file.write("half", 4));
    }
    EXPECT_EQ(readFileBytes(target), "old");
    EXPECT_EQ(entriesIn(dir.path()), 1);

    // A writer of its own reported a failure: commit refuses.
    {
        ReplacedFile file(target);
        ASSERT_TRUE(file.write("new", 3));
        file.fail("disk full");
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(file.error(), "disk full");
    }
    EXPECT_EQ(readFileBytes(target), "old");
    EXPECT_EQ(entriesIn(dir.path()), 1);

    // Written and committed: the new content, with a new file's permissions.
    std::string error;
    ASSERT_TRUE(writeFileReplacing(target, "new", &error)) << error;
    EXPECT_EQ(readFileBytes(target), "new");
    EXPECT_EQ(entriesIn(dir.path()), 1);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0666 & ~mask));
}

TEST(ReplacedFile, AFailedWriteOrRenameKeepsTheOldFile) {
    TempDir dir;
    // A full disk, as a file size limit: the write fails with EFBIG (the
    // signal it would also raise is ignored for the test).
    {
        const std::string target = dir.file("full");
        ASSERT_TRUE(writeFileBytes(target, "old"));
        rlimit old{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 1024;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        std::string error;
        const bool written = writeFileReplacing(target, std::string(4096, 'x'), &error);
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, previousHandler);
        EXPECT_FALSE(written);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(readFileBytes(target), "old");
    }
    // A folder in the target's place cannot be renamed over.
    {
        const std::string target = dir.file("folder");
        fs::create_directory(target);
        ASSERT_TRUE(writeFileBytes(target + "/inside", "kept"));
        std::string error;
        EXPECT_FALSE(writeFileReplacing(target, "new", &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(readFileBytes(target + "/inside"), "kept");
    }
    // A missing folder: nothing to write into.
    EXPECT_FALSE(writeFileReplacing(dir.file("missing/target"), "new"));
    EXPECT_EQ(entriesIn(dir.path()), 2);
}

}  // namespace
}  // namespace parlune::base
