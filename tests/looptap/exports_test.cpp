// liblooptap.so shows exactly its two exports.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

TEST(LooptapLibrary, ExportsOnlyStartPlayingAndStopPlaying) {
    const std::string library = std::string(PARLUNE_LIB_DIR) + "/liblooptap.so";
    FILE* nm = popen(("nm -D --defined-only '" + library + "' 2>&1").c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> symbols;
    std::string output;
    char line[512];
    while (fgets(line, sizeof line, nm)) {
        output += line;
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) symbols.insert(name);
    }
    ASSERT_EQ(pclose(nm), 0) << output;
    EXPECT_EQ(symbols, (std::set<std::string>{"StartPlaying", "StopPlaying"})) << output;
}
