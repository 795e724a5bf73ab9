// liblooptap.so shows exactly its two exports.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "tests/support/run_program.h"

TEST(LooptapLibrary, ExportsOnlyStartPlayingAndStopPlaying) {
    const std::string library = std::string(PARLUNE_LIB_DIR) + "/liblooptap.so";
    const auto nm = parlune::test::runProgram({"nm", "-D", "--defined-only", library});
    ASSERT_EQ(nm.exitCode, 0) << nm.output;
    std::set<std::string> symbols;
    std::istringstream lines(nm.output);
    std::string address, type, name;
    while (lines >> address >> type >> name) symbols.insert(name);
    EXPECT_EQ(symbols, (std::set<std::string>{"StartPlaying", "StopPlaying"})) << nm.output;
}
