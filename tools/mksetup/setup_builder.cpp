#include "setup_builder.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>

namespace mksetup {

namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kScramble = 0x88;
constexpr std::size_t kHeaderSize = 20;  // magic, check flag, CRC, checked length
constexpr std::uint64_t kMaxLength32 = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());

bool fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

// ---- little-endian access -------------------------------------------------

std::uint32_t getU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t getU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void putU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void putU64(Bytes& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void setU32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void setU64(Bytes& out, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void putI32(Bytes& out, std::int32_t v) { putU32(out, static_cast<std::uint32_t>(v)); }

void putNarrow(Bytes& out, const std::string& text) {
    putI32(out, static_cast<std::int32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void putMessage(Bytes& out, const Message& message) {
    putI32(out, message.id);
    putI32(out, static_cast<std::int32_t>(message.text.size() * 2));
    for (char16_t unit : message.text) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
}

// ---- CRC-32 ---------------------------------------------------------------

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

// ---- settings shared by builder and inspector ------------------------------

std::vector<std::pair<std::int32_t, std::string>> settingsWithFileKeys(
    const SetupDescription& description) {
    auto settings = description.settings;
    bool hasCount = false;
    bool hasNames = false;
    for (const auto& setting : settings) {
        hasCount = hasCount || setting.first == kKeyIncludedFileCount;
        hasNames = hasNames || setting.first == kKeyIncludedFiles;
    }
    if (!hasCount) settings.emplace_back(kKeyIncludedFileCount, std::to_string(description.files.size()));
    if (!hasNames) {
        std::string names;
        for (std::size_t i = 0; i < description.files.size(); ++i) {
            if (i > 0) names += ';';
            names += description.files[i].name;
        }
        settings.emplace_back(kKeyIncludedFiles, std::move(names));
    }
    return settings;
}

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

// ---- bounded reader for inspectSetup ---------------------------------------

class Reader {
public:
    Reader(const Bytes& data, std::uint64_t position) : data_(data), position_(position) {}

    std::uint64_t position() const { return position_; }
    std::uint64_t left() const { return position_ < data_.size() ? data_.size() - position_ : 0; }

    bool u32(std::uint32_t& value, const std::string& what, std::string* error) {
        if (left() < 4) return truncated(what, error);
        value = getU32(&data_[position_]);
        position_ += 4;
        return true;
    }

    bool i32(std::int32_t& value, const std::string& what, std::string* error) {
        std::uint32_t raw;
        if (!u32(raw, what, error)) return false;
        value = static_cast<std::int32_t>(raw);
        return true;
    }

    bool i64(std::int64_t& value, const std::string& what, std::string* error) {
        if (left() < 8) return truncated(what, error);
        std::uint64_t raw = getU32(&data_[position_]) |
                            (static_cast<std::uint64_t>(getU32(&data_[position_ + 4])) << 32);
        value = static_cast<std::int64_t>(raw);
        position_ += 8;
        return true;
    }

    // A length read at the current position, checked against what is left.
    bool length(std::int64_t& value, bool isLong, const std::string& what, std::string* error) {
        std::uint64_t at = position_;
        if (isLong) {
            if (!i64(value, what + " length", error)) return false;
        } else {
            std::int32_t v32;
            if (!i32(v32, what + " length", error)) return false;
            value = v32;
        }
        if (value < 0) {
            return fail(error, what + " at offset " + std::to_string(at) + ": length " +
                                   std::to_string(value) + " is negative");
        }
        if (static_cast<std::uint64_t>(value) > left()) {
            return fail(error, what + " at offset " + std::to_string(at) + ": length " +
                                   std::to_string(value) + " exceeds the " + std::to_string(left()) +
                                   " bytes left");
        }
        return true;
    }

    // A record count; every record takes at least `minRecordSize` bytes, so
    // a count the rest of the file cannot hold is refused before any loop.
    bool count(std::int32_t& value, std::uint64_t minRecordSize, const std::string& what,
               std::string* error) {
        std::uint64_t at = position_;
        if (!i32(value, what + " count", error)) return false;
        if (value < 0) {
            return fail(error, what + " count at offset " + std::to_string(at) + " is negative (" +
                                   std::to_string(value) + ")");
        }
        if (static_cast<std::uint64_t>(value) * minRecordSize > left()) {
            return fail(error, what + " count " + std::to_string(value) + " at offset " +
                                   std::to_string(at) + " needs at least " +
                                   std::to_string(static_cast<std::uint64_t>(value) * minRecordSize) +
                                   " bytes but only " + std::to_string(left()) + " are left");
        }
        return true;
    }

    bool narrow(std::string& text, const std::string& what, std::string* error) {
        std::int64_t size;
        if (!length(size, false, what, error)) return false;
        text.assign(reinterpret_cast<const char*>(data_.data() + position_), static_cast<std::size_t>(size));
        position_ += static_cast<std::uint64_t>(size);
        return true;
    }

    bool message(Message& message, const std::string& what, std::string* error) {
        if (!i32(message.id, what + " id", error)) return false;
        std::uint64_t at = position_;
        std::int64_t size;
        if (!length(size, false, what + " (id " + std::to_string(message.id) + ")", error)) return false;
        if (size % 2 != 0) {
            return fail(error, what + " (id " + std::to_string(message.id) + ") at offset " +
                                   std::to_string(at) + ": odd byte length " + std::to_string(size) +
                                   " for UTF-16 text");
        }
        message.text.resize(static_cast<std::size_t>(size / 2));
        for (std::size_t i = 0; i < message.text.size(); ++i) {
            message.text[i] = static_cast<char16_t>(getU16(&data_[position_ + 2 * i]));
        }
        position_ += static_cast<std::uint64_t>(size);
        return true;
    }

    void skip(std::uint64_t size) { position_ += size; }

private:
    bool truncated(const std::string& what, std::string* error) {
        return fail(error, "truncated at offset " + std::to_string(position_) + ": " +
                               std::to_string(left()) + " bytes left, cannot read the " + what);
    }

    const Bytes& data_;
    std::uint64_t position_;
};

// Strict decimal: digits only, no sign, no spaces.
bool parseCount(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

// Appends code point `cp` as UTF-8.
void appendUtf8(std::string& out, std::uint32_t cp) {
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

// Decodes the code point at `i` and advances `i`; false on malformed input.
bool decodeUtf8(const std::string& text, std::size_t& i, std::uint32_t& cp) {
    auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    std::uint8_t lead = byte(i);
    std::size_t extra;
    std::uint32_t minimum;
    if (lead < 0x80) {
        cp = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
        std::uint8_t b = byte(i + k);
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
    return true;
}

std::string badUtf8(std::size_t at) {
    return "invalid UTF-8 at byte " + std::to_string(at);
}

}  // namespace

// ---- PE image --------------------------------------------------------------

std::optional<std::uint64_t> lastSectionEnd(const Bytes& image, std::string* error) {
    const std::uint64_t size = image.size();
    if (size < 64) {
        fail(error, "not a PE image: only " + std::to_string(size) + " bytes");
        return std::nullopt;
    }
    if (image[0] != 'M' || image[1] != 'Z') {
        fail(error, "not a PE image: no MZ signature");
        return std::nullopt;
    }
    // The stub reads these fields as signed values; refusing what would be
    // negative keeps its arithmetic and ours the same.
    const std::int32_t peOffset = static_cast<std::int32_t>(getU32(&image[60]));
    if (peOffset < 0 || static_cast<std::uint64_t>(peOffset) + 24 > size) {
        fail(error, "not a PE image: PE header offset " + std::to_string(peOffset) +
                        " lies outside the file");
        return std::nullopt;
    }
    const std::uint64_t pe = static_cast<std::uint64_t>(peOffset);
    if (std::memcmp(&image[pe], "PE\0\0", 4) != 0) {
        fail(error, "not a PE image: no PE signature at offset " + std::to_string(pe));
        return std::nullopt;
    }
    const std::int16_t sections = static_cast<std::int16_t>(getU16(&image[pe + 6]));
    if (sections <= 0) {
        fail(error, "PE image has an invalid number of sections (" + std::to_string(sections) + ")");
        return std::nullopt;
    }
    const std::int16_t optionalHeaderSize = static_cast<std::int16_t>(getU16(&image[pe + 20]));
    if (optionalHeaderSize < 0) {
        fail(error, "PE image has an invalid optional header size (" +
                        std::to_string(optionalHeaderSize) + ")");
        return std::nullopt;
    }
    const std::uint64_t tableEnd = pe + 24 + static_cast<std::uint64_t>(optionalHeaderSize) +
                                   40 * static_cast<std::uint64_t>(sections);
    if (tableEnd > size) {
        fail(error, "PE image is truncated: its section table ends at offset " +
                        std::to_string(tableEnd) + " but the file has " + std::to_string(size) +
                        " bytes");
        return std::nullopt;
    }
    const std::uint64_t rawSize = getU32(&image[tableEnd - 24]);
    const std::uint64_t rawOffset = getU32(&image[tableEnd - 20]);
    if (rawSize == 0) {
        fail(error, "PE image's last section has no raw data, so its end cannot be found");
        return std::nullopt;
    }
    const std::uint64_t end = rawOffset + rawSize;
    // The stub computes the position in 32 bits.
    if (end > 0xFFFFFFFFu) {
        fail(error, "PE image's last section ends beyond 4 GiB (offset " + std::to_string(end) + ")");
        return std::nullopt;
    }
    if (end < tableEnd) {
        fail(error, "PE image's last section ends at offset " + std::to_string(end) +
                        ", inside the headers");
        return std::nullopt;
    }
    return end;
}

std::optional<std::uint64_t> imageEnd(const Bytes& stub, std::string* error) {
    std::optional<std::uint64_t> end = lastSectionEnd(stub, error);
    if (!end) return std::nullopt;
    const std::uint64_t size = stub.size();
    if (size > *end) {
        fail(error, "stub has " + std::to_string(size - *end) +
                        " bytes after its last section (not stripped, or already a setup program)");
        return std::nullopt;
    }
    if (size < *end) {
        fail(error, "stub is truncated: its last section ends at offset " + std::to_string(*end) +
                        " but the file has " + std::to_string(size) + " bytes");
        return std::nullopt;
    }
    return end;
}

// ---- CRC -------------------------------------------------------------------

std::uint32_t crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// ---- validation ------------------------------------------------------------

bool checkFileName(const std::string& name, std::string* error) {
    const std::string shown = inQuotes(name);
    if (name.empty()) return fail(error, "file name is empty");
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ';') {
            return fail(error, "file name " + shown +
                                   " contains ';', the separator of the included file list");
        }
        if (u < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
            return fail(error, "file name " + shown + " contains a character not allowed in Windows file names");
        }
    }
    if (name[0] == '\\' || name[0] == '/') {
        return fail(error, "file name " + shown + " is absolute; names are relative");
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        const std::string component = name.substr(start, end - start);
        if (component.empty()) return fail(error, "file name " + shown + " has an empty path component");
        if (component == "." || component == "..") {
            return fail(error, "file name " + shown + " has a \".\" or \"..\" component");
        }
        start = end + 1;
    }
    return true;
}

std::string fileNameKey(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        if (c == '/') c = '\\';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

bool validateDescription(const SetupDescription& description, std::string* error) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < description.files.size(); ++i) {
        const std::string& name = description.files[i].name;
        if (!checkFileName(name, error)) return false;
        std::string key = fileNameKey(name);
        for (std::size_t j = 0; j < keys.size(); ++j) {
            if (keys[j] == key) {
                return fail(error, "duplicate file name " + inQuotes(name) + " (same as " +
                                       inQuotes(description.files[j].name) + ")");
            }
        }
        keys.push_back(std::move(key));
    }
    const auto settings = settingsWithFileKeys(description);
    if (settings.size() > kMaxLength32 || description.messages.size() > kMaxLength32 ||
        description.groups.size() > kMaxLength32) {
        return fail(error, "too many entries for a 32-bit count");
    }
    for (const auto& setting : settings) {
        if (setting.second.size() > kMaxLength32) {
            return fail(error, "setting " + std::to_string(setting.first) + " is too long");
        }
    }
    auto messagesFit = [&](const std::vector<Message>& messages) {
        for (const Message& message : messages) {
            if (message.text.size() > kMaxLength32 / 2) {
                return fail(error, "message " + std::to_string(message.id) + " is too long");
            }
        }
        return true;
    };
    if (!messagesFit(description.messages)) return false;
    for (const LanguageGroup& group : description.groups) {
        if (group.prefix.size() > kMaxLength32 || group.messages.size() > kMaxLength32) {
            return fail(error, "language group " + inQuotes(group.prefix) + " is too large");
        }
        if (!messagesFit(group.messages)) return false;
    }
    return true;
}

// ---- building --------------------------------------------------------------

Bytes buildAppendedData(const SetupDescription& description) {
    Bytes out;
    putU32(out, kBlockMagic);
    putU32(out, description.checkFlag ? 1u : 0u);
    putU32(out, 0);  // CRC, filled in below
    putU64(out, 0);  // checked length, filled in below

    const auto settings = settingsWithFileKeys(description);
    putI32(out, static_cast<std::int32_t>(settings.size()));
    for (const auto& setting : settings) {
        putI32(out, setting.first);
        putNarrow(out, setting.second);
    }

    putI32(out, static_cast<std::int32_t>(description.messages.size()));
    for (const Message& message : description.messages) putMessage(out, message);

    putI32(out, static_cast<std::int32_t>(description.groups.size()));
    for (const LanguageGroup& group : description.groups) {
        putNarrow(out, group.prefix);
        putI32(out, static_cast<std::int32_t>(group.messages.size()));
        for (const Message& message : group.messages) putMessage(out, message);
    }

    for (const PayloadFile& file : description.files) {
        putU64(out, static_cast<std::uint64_t>(file.data.size()));
        const std::size_t at = out.size();
        out.insert(out.end(), file.data.begin(), file.data.end());
        for (std::size_t i = at; i < out.size(); ++i) out[i] ^= kScramble;
    }
    out.insert(out.end(), description.trailing.begin(), description.trailing.end());

    const std::size_t checked = out.size() - kHeaderSize;
    setU32(out, 8, crc32(0, out.data() + kHeaderSize, checked));
    setU64(out, 12, static_cast<std::uint64_t>(checked));
    return out;
}

std::optional<Bytes> buildSetup(const Bytes& stub, const SetupDescription& description,
                                std::string* error) {
    if (!imageEnd(stub, error)) return std::nullopt;
    if (!validateDescription(description, error)) return std::nullopt;
    Bytes setup = stub;
    const Bytes appended = buildAppendedData(description);
    setup.insert(setup.end(), appended.begin(), appended.end());
    return setup;
}

// ---- files -----------------------------------------------------------------

bool writeFileAtomically(const std::string& path, const Bytes& data, std::string* error) {
    const std::string tempName = path + ".mksetup-tmp";
    const fs::path target = fs::u8path(path);
    const fs::path temp = fs::u8path(tempName);
    std::error_code ignored;
    {
        errno = 0;
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            std::string reason = errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
            return fail(error, "cannot create " + inQuotes(tempName) + reason);
        }
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        out.close();
        if (!out) {
            fs::remove(temp, ignored);
            return fail(error, "cannot write " + inQuotes(tempName));
        }
    }
    // Replaces an existing target (MoveFileEx with replacing on Windows).
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ignored);
        return fail(error, "cannot rename " + inQuotes(tempName) + " to " + inQuotes(path) + ": " + ec.message());
    }
    return true;
}

bool readFile(const std::string& path, Bytes& data, std::string* error) {
    const fs::path file = fs::u8path(path);
    std::error_code ec;
    if (fs::is_directory(file, ec)) return fail(error, inQuotes(path) + " is a directory");
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::string reason = errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
        return fail(error, "cannot open " + inQuotes(path) + reason);
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || !in) return fail(error, "cannot read " + inQuotes(path));
    data.resize(static_cast<std::size_t>(size));
    if (size > 0) in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size));
    if (!in) return fail(error, "cannot read " + inQuotes(path));
    return true;
}

// ---- text ------------------------------------------------------------------

bool utf8ToUtf16(const std::string& utf8, std::u16string& out, std::string* error) {
    out.clear();
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t at = i;
        std::uint32_t cp;
        if (!decodeUtf8(utf8, i, cp)) return fail(error, badUtf8(at));
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return true;
}

bool utf8ToLatin1(const std::string& utf8, std::string& out, std::string* error) {
    out.clear();
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t at = i;
        std::uint32_t cp;
        if (!decodeUtf8(utf8, i, cp)) return fail(error, badUtf8(at));
        if (cp > 0xFF) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(cp));
            return fail(error, std::string("character ") + hex + " at byte " + std::to_string(at) +
                                   " is not in Latin-1");
        }
        out += static_cast<char>(cp);
    }
    return true;
}

bool isValidUtf8(const std::string& text) {
    std::size_t i = 0;
    std::uint32_t cp;
    while (i < text.size()) {
        if (!decodeUtf8(text, i, cp)) return false;
    }
    return true;
}

std::string utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::string latin1ToUtf8(const std::string& text) {
    std::string out;
    for (char c : text) appendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

// ---- inspecting ------------------------------------------------------------

std::optional<InspectResult> inspectSetup(const Bytes& setup, std::string* error) {
    InspectResult result;
    std::optional<std::uint64_t> start = lastSectionEnd(setup, error);
    if (!start) return std::nullopt;
    result.blockStart = *start;
    if (result.blockStart > setup.size()) {
        fail(error, "file is truncated: its last section ends at offset " +
                        std::to_string(result.blockStart) + " but the file has " +
                        std::to_string(setup.size()) + " bytes");
        return std::nullopt;
    }
    if (result.blockStart == setup.size()) {
        fail(error, "no data after the image (offset " + std::to_string(result.blockStart) +
                        "): a stub, not a setup program");
        return std::nullopt;
    }

    Reader reader(setup, result.blockStart);
    std::uint32_t magic;
    std::int64_t checkedLength;
    if (!reader.u32(magic, "magic number", error)) return std::nullopt;
    if (magic != kBlockMagic) {
        char text[64];
        std::snprintf(text, sizeof text, "0x%08X, expected 0x%08X", static_cast<unsigned>(magic),
                      static_cast<unsigned>(kBlockMagic));
        fail(error, "no setup block: the magic number at offset " + std::to_string(result.blockStart) +
                        " is " + text);
        return std::nullopt;
    }
    if (!reader.u32(result.checkFlag, "check flag", error) ||
        !reader.u32(result.storedCrc, "CRC", error) ||
        !reader.i64(checkedLength, "checked length", error)) {
        return std::nullopt;
    }
    result.checkedLength = checkedLength;
    if (checkedLength < 0) {
        fail(error, "checked length " + std::to_string(checkedLength) + " at offset " +
                        std::to_string(result.blockStart + 12) + " is negative");
        return std::nullopt;
    }
    // A checked range reaching past the end is reported, not refused: the
    // rest of the block may still be readable.
    const std::uint64_t checkedStart = reader.position();
    const std::uint64_t available = reader.left();
    result.checkedRangeComplete = static_cast<std::uint64_t>(checkedLength) <= available;
    const std::uint64_t crcSize =
        result.checkedRangeComplete ? static_cast<std::uint64_t>(checkedLength) : available;
    result.computedCrc = crc32(0, setup.data() + checkedStart, static_cast<std::size_t>(crcSize));

    std::int32_t count;
    // Smallest records: id + length (settings, messages), prefix length +
    // entry count (groups).
    if (!reader.count(count, 8, "settings", error)) return std::nullopt;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string what = "setting #" + std::to_string(i);
        std::int32_t id;
        std::string value;
        if (!reader.i32(id, what + " id", error)) return std::nullopt;
        if (!reader.narrow(value, what + " (id " + std::to_string(id) + ")", error)) return std::nullopt;
        result.settings.emplace_back(id, std::move(value));
    }

    if (!reader.count(count, 8, "messages", error)) return std::nullopt;
    for (std::int32_t i = 0; i < count; ++i) {
        Message message;
        if (!reader.message(message, "message #" + std::to_string(i), error)) return std::nullopt;
        result.messages.push_back(std::move(message));
    }

    if (!reader.count(count, 8, "language groups", error)) return std::nullopt;
    for (std::int32_t g = 0; g < count; ++g) {
        const std::string what = "language group #" + std::to_string(g);
        LanguageGroup group;
        std::int32_t entries;
        if (!reader.narrow(group.prefix, what + " prefix", error)) return std::nullopt;
        if (!reader.count(entries, 8, what + " message", error)) return std::nullopt;
        for (std::int32_t i = 0; i < entries; ++i) {
            Message message;
            if (!reader.message(message, what + " message #" + std::to_string(i), error)) {
                return std::nullopt;
            }
            group.messages.push_back(std::move(message));
        }
        result.groups.push_back(std::move(group));
    }

    result.payloadOffset = reader.position();

    // The reader keeps the last occurrence of a repeated id.
    const std::string* countText = nullptr;
    const std::string* namesText = nullptr;
    for (const auto& setting : result.settings) {
        if (setting.first == kKeyIncludedFileCount) countText = &setting.second;
        if (setting.first == kKeyIncludedFiles) namesText = &setting.second;
    }
    std::uint64_t files = 0;
    if (countText && !parseCount(*countText, files)) {
        fail(error, "setting " + std::to_string(kKeyIncludedFileCount) +
                        " (number of included files) is not a decimal number: " + inQuotes(*countText));
        return std::nullopt;
    }
    // Each entry takes at least its 8-byte length.
    if (files > reader.left() / 8) {
        fail(error, "setting " + std::to_string(kKeyIncludedFileCount) + " announces " +
                        std::to_string(files) + " included files but only " +
                        std::to_string(reader.left()) + " bytes follow the block");
        return std::nullopt;
    }
    std::vector<std::string> names;
    if (namesText && !namesText->empty()) {
        std::size_t from = 0;
        while (true) {
            const std::size_t semicolon = namesText->find(';', from);
            names.push_back(namesText->substr(from, semicolon - from));
            if (semicolon == std::string::npos) break;
            from = semicolon + 1;
        }
    }
    for (std::uint64_t i = 0; i < files; ++i) {
        PayloadEntryInfo entry;
        entry.offset = reader.position();
        if (i < names.size()) entry.name = names[static_cast<std::size_t>(i)];
        const std::string what = "payload entry #" + std::to_string(i) +
                                 (entry.name.empty() ? std::string() : " (" + inQuotes(entry.name) + ")");
        if (!reader.length(entry.length, true, what, error)) return std::nullopt;
        reader.skip(static_cast<std::uint64_t>(entry.length));
        result.payload.push_back(std::move(entry));
    }
    result.trailingBytes = reader.left();
    return result;
}

}  // namespace mksetup
