// The installed tree for the packaging tests: `cmake --install` of this build
// into a temporary prefix, then moved to another folder, so a run path or a
// switcher path that named the first prefix (or the build tree) would show.
//
// Thread contract: test fixtures; the test's thread only.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/support/run_program.h"
#include "tests/support/test_support.h"

namespace parlune::test {

inline const std::string kId = "io.github.parlune.Parlune";

// The prefix the tree ends up in: installed into "<dir>/first prefix", then
// renamed to "<dir>/moved prefix".
class InstalledTree : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string first = dir.file("first prefix");
        const ProgramResult install =
            runProgram({PARLUNE_CMAKE, "--install", PARLUNE_BUILD_TREE, "--prefix", first});
        ASSERT_EQ(install.exitCode, 0) << install.output;
        prefix = dir.file("moved prefix");
        std::error_code ec;
        std::filesystem::rename(first, prefix, ec);
        ASSERT_FALSE(ec) << ec.message();
    }
    std::string at(const std::string& relative) const { return prefix + "/" + relative; }

    TempDir dir;
    std::string prefix;
};

inline bool executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

inline bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && executable(folder + "/" + program)) return true;
    return false;
}

// The RUNPATH or RPATH of an ELF file, "" when it has none.
inline std::string runPath(const std::string& file) {
    const ProgramResult r = runProgram({"readelf", "-d", file});
    std::stringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line))
        if (line.find("(RUNPATH)") != std::string::npos ||
            line.find("(RPATH)") != std::string::npos) {
            const size_t open = line.find('['), close = line.rfind(']');
            return line.substr(open + 1, close - open - 1);
        }
    return "";
}

}  // namespace parlune::test
