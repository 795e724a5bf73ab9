// favorites.dat: the eight favorite voices, each a name, a pad point and a
// mode, stored as the raw image of eight 80-byte little-endian records (640
// bytes, no header, slot 0 first). The window owns the table; this is its
// file format and its defaults.
//
// Thread contract: free functions on caller-owned data; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace parlune::favorites {

constexpr int kSlotCount = 8;
constexpr size_t kNameBytes = 56;  // at most 55 bytes of UTF-8 and a NUL

struct Record {
    char name[kNameBytes];
    double padX;
    double padY;
    uint8_t cartoon;     // 0 human, 1 cartoon
    uint8_t padding[7];  // written as zeros, ignored when read
};
static_assert(sizeof(Record) == 80 && offsetof(Record, padX) == 56 &&
                  offsetof(Record, padY) == 64 && offsetof(Record, cartoon) == 72,
              "the record is the file's layout");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the file's doubles are little-endian");

using Table = std::array<Record, kSlotCount>;
constexpr size_t kFileBytes = sizeof(Table);

// Every slot named "-", pad point (1.0, 0.0), human mode.
Table defaultTable();

// The name as text: up to the first NUL, or the first 55 bytes cut back to
// a whole UTF-8 character when the field holds no NUL.
std::string nameOf(const Record& record);
// Stores the name, cut to at most 55 bytes on a UTF-8 character boundary.
void setName(Record& record, const std::string& utf8);

// Loads the table. When the file opens, up to 640 bytes are read into it
// (slots the file does not cover keep their defaults) and the result is true.
// When it does not, the table gets the defaults, the file is created with
// them, and the result is false.
bool readFile(const std::string& path, Table& table);
// Replaces the file with the whole table (written aside, then renamed over
// it); false when it cannot be written, and the old file stays.
bool writeFile(const std::string& path, const Table& table);

}  // namespace parlune::favorites
