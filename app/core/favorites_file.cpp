#include "app/core/favorites_file.h"

#include <cstdint>
#include <cstring>

#include "platform/base/files.h"

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
    // Regular files only (a FIFO or a folder in its place is not the table),
    // of which the first 640 bytes count.
    std::string bytes;
    const int fd = base::openRegularFile(path, UINT64_MAX, nullptr);
    if (fd < 0) {
        table = defaultTable();
        writeFile(path, table);
        return false;
    }
    bytes.resize(kFileBytes);
    size_t got = 0;
    while (got < kFileBytes) {
        const ssize_t n = ::read(fd, &bytes[got], kFileBytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    // A short file covers only its first records; a record cut in the middle
    // keeps its defaults rather than half of them.
    const size_t whole = got / sizeof(Record);
    table = defaultTable();
    std::memcpy(table.data(), bytes.data(), whole * sizeof(Record));
    return true;
}

bool writeFile(const std::string& path, const Table& table) {
    // Written beside the old file and renamed over it, so a failed write
    // never leaves half a table behind.
    return base::writeFileReplacing(
        path, std::string(reinterpret_cast<const char*>(table.data()), kFileBytes));
}

}  // namespace parlune::favorites
