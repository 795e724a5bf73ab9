#include "app/core/playdev_file.h"

#include <cstdint>
#include <vector>

#include "app/core/data_files.h"
#include "platform/base/files.h"

namespace parlune::playdev {
namespace {

constexpr char kSinkPrefix[] = "sink=";
constexpr char kRunPrefix[] = "run=";
constexpr uint32_t kReplacement = 0xFFFD;
// Two device names; anything larger is not a PlayDev.ini.
constexpr uint64_t kMaxFileBytes = 64 * 1024;

void appendUnit(std::string& out, uint16_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string utf8ToUtf16le(const std::string& utf8) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        const unsigned char lead = s[i];
        size_t extra = 0;
        uint32_t cp = lead;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            cp = lead & 0x07;
        } else if (lead >= 0x80) {
            appendUnit(out, kReplacement);
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= extra; ++k) {
            if (i + k >= n || (s[i + k] & 0xC0) != 0x80) break;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (k <= extra) {  // truncated sequence
            appendUnit(out, kReplacement);
            i += k;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            appendUnit(out, static_cast<uint16_t>(0xD800 | (cp >> 10)));
            appendUnit(out, static_cast<uint16_t>(0xDC00 | (cp & 0x3FF)));
        } else {
            appendUnit(out, static_cast<uint16_t>(cp > 0x10FFFF ? kReplacement : cp));
        }
    }
    return out;
}

std::string utf16leToUtf8(const std::string& bytes) {
    std::string out;
    const size_t units = bytes.size() / 2;
    auto unitAt = [&](size_t k) {
        return static_cast<uint16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                     (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
    };
    for (size_t k = 0; k < units; ++k) {
        uint32_t cp = unitAt(k);
        if (cp >= 0xD800 && cp <= 0xDBFF && k + 1 < units && unitAt(k + 1) >= 0xDC00 &&
            unitAt(k + 1) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unitAt(k + 1) - 0xDC00);
            ++k;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::string encode(const Remembered& device) {
    std::string text = device.friendlyName + "\n" + kSinkPrefix + device.sinkName + "\n";
    if (!device.run.empty()) text += kRunPrefix + device.run + "\n";
    return utf8ToUtf16le(text);
}

std::optional<Remembered> decode(const std::string& bytes) {
    const std::string text = utf16leToUtf8(bytes);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(kSinkPrefix, 0) != 0) continue;
        Remembered r;
        r.sinkName = lines[i].substr(sizeof(kSinkPrefix) - 1);
        if (i > 0) r.friendlyName = lines[i - 1];
        if (r.sinkName.empty()) return std::nullopt;
        if (i + 1 < lines.size() && lines[i + 1].rfind(kRunPrefix, 0) == 0)
            r.run = lines[i + 1].substr(sizeof(kRunPrefix) - 1);
        return r;
    }
    return std::nullopt;
}

std::optional<std::string> readBytes(const std::string& path, std::string* errorText) {
    // A regular file of a few lines only: a folder, a FIFO (which would block
    // the switcher) or a device (/dev/zero never ends) is refused.
    std::string bytes;
    if (!base::readRegularFile(path, kMaxFileBytes, &bytes, errorText)) return std::nullopt;
    return bytes;
}

std::optional<Remembered> readFile(const std::string& path) {
    const auto bytes = readBytes(path);
    if (!bytes) return std::nullopt;
    return decode(*bytes);
}

bool writeFile(const std::string& path, const Remembered& device) {
    // Written aside and renamed, so a reader never sees half a file.
    return base::writeFileReplacing(path, encode(device));
}

bool isParluneinPlayDeviceINI(const std::string& path, std::string* errorText) {
    const auto read = readBytes(path, errorText);
    if (!read) return false;
    const std::string& bytes = *read;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        // An 8-bit line split leaves the high byte of the UTF-16 line feed at
        // the start of the next line; skipping it keeps every line aligned
        // (without this only the first line could be read).
        size_t from = start;
        if (start > 0 && from < end && bytes[from] == '\0') ++from;
        std::string text;
        for (size_t i = from; i < end; i += 2) text += bytes[i];
        if (text.find("Parlune") != std::string::npos) return true;
        start = end + 1;
    }
    return false;
}

bool isParluneinPlayDeviceINI() { return isParluneinPlayDeviceINI(data::playDevIniPath()); }

}  // namespace parlune::playdev
