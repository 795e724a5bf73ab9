#include "app/core/favorites_file.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace parlune::favorites {
namespace {

// The longest prefix of at most maxBytes that does not end inside a UTF-8
// character.
size_t utf8Prefix(const char* text, size_t length, size_t maxBytes) {
    if (length <= maxBytes) return length;
    size_t cut = maxBytes;
    // Back up over continuation bytes to the lead byte of the cut character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

}  // namespace

Table defaultTable() {
    Table table{};
    for (Record& record : table) {
        std::memset(&record, 0, sizeof record);
        setName(record, "-");
        record.padX = 1.0;
        record.padY = 0.0;
        record.cartoon = 0;
    }
    return table;
}

std::string nameOf(const Record& record) {
    const void* end = std::memchr(record.name, '\0', kNameBytes);
    if (end) return std::string(record.name, static_cast<const char*>(end) - record.name);
    return std::string(record.name, utf8Prefix(record.name, kNameBytes, kNameBytes - 1));
}

void setName(Record& record, const std::string& utf8) {
    const size_t length = utf8Prefix(utf8.data(), utf8.size(), kNameBytes - 1);
    std::memset(record.name, 0, kNameBytes);
    std::memcpy(record.name, utf8.data(), length);
}

bool readFile(const std::string& path, Table& table) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        table = defaultTable();
        writeFile(path, table);
        return false;
    }
    Table read = defaultTable();
    in.read(reinterpret_cast<char*>(read.data()), static_cast<std::streamsize>(kFileBytes));
    // A short file covers only its first records; a record cut in the middle
    // keeps its defaults rather than half of them.
    const size_t whole = static_cast<size_t>(in.gcount()) / sizeof(Record);
    table = defaultTable();
    std::memcpy(table.data(), read.data(), whole * sizeof(Record));
    return true;
}

bool writeFile(const std::string& path, const Table& table) {
    // Written beside the old file and renamed over it, so a failed write
    // never leaves half a table behind.
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(table.data()),
                  static_cast<std::streamsize>(kFileBytes));
        if (!out.flush()) {
            out.close();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace parlune::favorites
