// Builds setup programs: a stub executable followed by the configuration
// block and the payload. Portable C++ (no platform headers), so the Windows
// test executables link it as well as the host command-line tool.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mksetup {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kBlockMagic = 0xE8E413D5u;
constexpr std::int32_t kKeyIncludedFileCount = 2002;
constexpr std::int32_t kKeyIncludedFiles = 2003;

struct Message {
    std::int32_t id = 0;
    std::u16string text;
};

struct LanguageGroup {
    std::string prefix;
    std::vector<Message> messages;
};

struct PayloadFile {
    std::string name;  // relative name as written to key 2003 ("dir\\file" allowed)
    Bytes data;        // plain bytes; scrambled (XOR 0x88) when written
};

struct SetupDescription {
    bool checkFlag = true;
    // Narrow settings, written byte for byte in this order (a repeated id is
    // written twice; the reader keeps the later one).
    std::vector<std::pair<std::int32_t, std::string>> settings;
    std::vector<Message> messages;
    std::vector<LanguageGroup> groups;
    std::vector<PayloadFile> files;
    // Raw bytes after the payload entries (data the Java side reads itself).
    Bytes trailing;
};

// Offset where the stub's last section's raw data ends, or nullopt with
// `error` set when `stub` is not a PE image or carries data behind it.
std::optional<std::uint64_t> imageEnd(const Bytes& stub, std::string* error);

// The same walk through the PE headers without comparing against the file
// size: where the block of a finished setup program starts.
std::optional<std::uint64_t> lastSectionEnd(const Bytes& image, std::string* error);

// Rejects names that cannot be used as a relative Windows file name or that
// would break the ";"-separated list of key 2003.
bool checkFileName(const std::string& name, std::string* error);
// Two names name the same file exactly when their keys are equal (ASCII case
// folded, "/" taken as "\\").
std::string fileNameKey(const std::string& name);

// What buildSetup refuses: unusable file names, duplicates (ASCII case is
// ignored, as by Windows file systems) and strings too long for a 32-bit
// length field.
bool validateDescription(const SetupDescription& description, std::string* error);

// Standard CRC-32 (reflected, polynomial 0xEDB88320), continuing from `crc`
// (0 for a fresh start), as zlib's crc32() computes it.
std::uint32_t crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

// The block (header, settings, messages, groups) followed by the payload
// entries and the trailing data. Keys 2002/2003 are added from `files`
// unless the description already sets them. The checksum covers everything
// from offset 20 to the end.
Bytes buildAppendedData(const SetupDescription& description);

// Stub + appended data; nullopt with `error` when the stub is unusable.
std::optional<Bytes> buildSetup(const Bytes& stub, const SetupDescription& description,
                                std::string* error);

// Writes `data` to `path` through a temporary file renamed into place, so a
// failure never leaves a partial output file.
bool writeFileAtomically(const std::string& path, const Bytes& data, std::string* error);
bool readFile(const std::string& path, Bytes& data, std::string* error);

struct PayloadEntryInfo {
    std::string name;      // from key 2003, empty when the list is shorter
    std::int64_t length = 0;
    std::uint64_t offset = 0;  // file offset of the entry's length field
};

struct InspectResult {
    std::uint64_t blockStart = 0;
    std::uint32_t checkFlag = 0;
    std::uint32_t storedCrc = 0;
    std::uint32_t computedCrc = 0;  // over the checked range as far as the file reaches
    std::int64_t checkedLength = 0;
    bool checkedRangeComplete = false;
    std::vector<std::pair<std::int32_t, std::string>> settings;
    std::vector<Message> messages;
    std::vector<LanguageGroup> groups;
    std::uint64_t payloadOffset = 0;
    std::vector<PayloadEntryInfo> payload;
    std::uint64_t trailingBytes = 0;
};

// Text conversions for the description and the inspection output. The
// UTF-8 decoders are strict (no overlong forms, no encoded surrogates).
bool utf8ToUtf16(const std::string& utf8, std::u16string& out, std::string* error);
bool utf8ToLatin1(const std::string& utf8, std::string& out, std::string* error);
bool isValidUtf8(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const std::u16string& text);
std::string latin1ToUtf8(const std::string& text);

// Parses a setup program. Never trusts lengths: a damaged file gives
// nullopt and a one-line `error`.
std::optional<InspectResult> inspectSetup(const Bytes& setup, std::string* error);

}  // namespace mksetup
