#include "app/core/favorites_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "tests/support/test_support.h"

namespace parlune::favorites {
namespace {

TEST(FavoritesFile, FirstStartCreatesTheDefaultTable) {
    test::TempDir dir;
    const std::string path = dir.file("favorites.dat");
    Table table{};
    EXPECT_FALSE(readFile(path, table));
    const std::string bytes = test::readFileBytes(path);
    ASSERT_EQ(bytes.size(), 640u);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(nameOf(table[slot]), "-");
        EXPECT_EQ(table[slot].padX, 1.0);
        EXPECT_EQ(table[slot].padY, 0.0);
        EXPECT_EQ(table[slot].cartoon, 0);
        // The on-disk record: "-" and its NUL, then the two doubles and the flag.
        const char* record = bytes.data() + 80 * slot;
        EXPECT_EQ(std::string(record, 2), std::string("-\0", 2));
        double x, y;
        std::memcpy(&x, record + 56, 8);
        std::memcpy(&y, record + 64, 8);
        EXPECT_EQ(x, 1.0);
        EXPECT_EQ(y, 0.0);
        EXPECT_EQ(record[72], 0);
    }
    Table again{};
    EXPECT_TRUE(readFile(path, again));
    EXPECT_EQ(std::memcmp(&again, &table, sizeof table), 0);
}

TEST(FavoritesFile, SavedSlotsComeBackAndShortFilesKeepDefaults) {
    test::TempDir dir;
    const std::string path = dir.file("favorites.dat");
    Table table = defaultTable();
    setName(table[3],
            "Deep \xC3\xA9"
            "cho");
    table[3].padX = 0.72;
    table[3].padY = 2.0;
    table[3].cartoon = 1;
    ASSERT_TRUE(writeFile(path, table));
    Table back{};
    ASSERT_TRUE(readFile(path, back));
    EXPECT_EQ(nameOf(back[3]),
              "Deep \xC3\xA9"
              "cho");
    EXPECT_EQ(back[3].padX, 0.72);
    EXPECT_EQ(back[3].padY, 2.0);
    EXPECT_EQ(back[3].cartoon, 1);

    // 200 bytes: two whole records and part of a third, which keeps its defaults.
    std::filesystem::resize_file(path, 200);
    setName(table[2], "third");
    ASSERT_TRUE(readFile(path, back));
    EXPECT_EQ(nameOf(back[1]), "-");
    EXPECT_EQ(nameOf(back[2]), "-");
    EXPECT_EQ(nameOf(back[3]), "-");
    EXPECT_EQ(back[3].cartoon, 0);

    EXPECT_FALSE(writeFile(dir.file("no/such/folder/favorites.dat"), table));
}

// What stands at favorites.dat's place and is no regular file gives the
// defaults at once (a FIFO used to block the window's start-up); a folder
// there is left as it is.
TEST(FavoritesFile, WhatIsNoRegularFileGivesTheDefaultsAtOnce) {
    test::TempDir dir;
    const std::string path = dir.file("favorites.dat");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    Table table{};
    EXPECT_FALSE(readFile(path, table));
    EXPECT_EQ(nameOf(table[0]), "-");

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    ASSERT_TRUE(test::writeFileBytes(path + "/inside", "kept"));
    EXPECT_FALSE(readFile(path, table));
    EXPECT_EQ(nameOf(table[7]), "-");
    EXPECT_EQ(test::readFileBytes(path + "/inside"), "kept");
    EXPECT_FALSE(writeFile(path, table));
}

TEST(FavoritesFile, NamesStayWithinTheFieldOnCharacterBoundaries) {
    struct Case {
        const char* what;
        std::string given;
        std::string kept;
    };
    const std::string a55(55, 'a');
    const Case cases[] = {
        {"short", "Robot", "Robot"},
        {"exactly 55 bytes", a55, a55},
        {"longer ASCII is cut", a55 + "bc", a55},
        {"a two-byte character across the limit", std::string(54, 'a') + "\xC3\xA9",
         std::string(54, 'a')},
        {"a four-byte character across the limit", std::string(53, 'a') + "\xF0\x9F\x8E\xA7",
         std::string(53, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record record{};
        setName(record, c.given);
        EXPECT_EQ(nameOf(record), c.kept);
    }
    // A field from a file with no NUL in its 56 bytes reads as a whole-character prefix.
    Record raw{};
    std::memset(raw.name, 'x', kNameBytes);
    std::memcpy(raw.name + 54, "\xC3\xA9", 2);
    EXPECT_EQ(nameOf(raw), std::string(54, 'x'));
}

}  // namespace
}  // namespace parlune::favorites
