#include "config/block_format.h"

#include <cstring>

#include "config/language.h"
#include "launcher/log.h"

namespace {

std::uint32_t lastErrorOf(ByteSource& source) {
    return source.lastError ? source.lastError(source.context) : 0;
}

// Reads exactly `size` bytes; `got` tells how many arrived.
bool readExact(ByteSource& source, void* buffer, std::uint32_t size, std::uint32_t& got) {
    got = 0;
    bool ok = source.read(source.context, buffer, size, &got);
    source.position += got;
    return ok && got == size;
}

std::uint32_t littleEndian32(const unsigned char* b) {
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint64_t bytesLeft(const ByteSource& source) {
    return source.position < source.size ? source.size - source.position : 0;
}

}  // namespace

const wchar_t* blockErrorText(BlockError error) {
    switch (error) {
        case BlockError::None: return L"";
        case BlockError::ReadInt: return L"Internal Error: readInt";
        case BlockError::ReadShort: return L"Internal Error: readShort";
        case BlockError::ReadLong: return L"Internal Error: readLong";
        case BlockError::ReadString: return L"Internal Error: readString";
        case BlockError::ReadWString: return L"Internal Error: readWString";
        case BlockError::Magic: return L"Internal Error: magic";
    }
    return L"";
}

bool seekTo(ByteSource& source, std::uint32_t position) {
    if (!source.seek(source.context, position)) return false;
    source.position = position;
    return true;
}

bool readInt(ByteSource& source, std::int32_t& value) {
    unsigned char b[4];
    std::uint32_t got;
    if (!readExact(source, b, 4, got)) {
        logMessage(L"error %d %d\n", static_cast<int>(lastErrorOf(source)), static_cast<int>(got));
        return false;
    }
    value = static_cast<std::int32_t>(littleEndian32(b));
    return true;
}

bool readShort(ByteSource& source, std::int16_t& value) {
    unsigned char b[2];
    std::uint32_t got;
    if (!readExact(source, b, 2, got)) {
        logMessage(L"error %d\n", static_cast<int>(lastErrorOf(source)));
        return false;
    }
    value = static_cast<std::int16_t>(b[0] | (b[1] << 8));
    return true;
}

bool readLong(ByteSource& source, std::int64_t& value) {
    unsigned char b[8];
    std::uint32_t got;
    if (!readExact(source, b, 8, got)) {
        logMessage(L"error %d\n", static_cast<int>(lastErrorOf(source)));
        return false;
    }
    value = static_cast<std::int64_t>(littleEndian32(b) |
                                      (static_cast<std::uint64_t>(littleEndian32(b + 4)) << 32));
    return true;
}

BlockError readString(ByteSource& source, std::string& text) {
    std::int32_t length;
    if (!readInt(source, length)) return BlockError::ReadInt;
    if (length < 0 || static_cast<std::uint64_t>(length) > bytesLeft(source)) {
        return BlockError::ReadString;
    }
    text.assign(static_cast<std::size_t>(length), '\0');
    std::uint32_t got;
    if (length > 0 && !readExact(source, &text[0], static_cast<std::uint32_t>(length), got)) {
        return BlockError::ReadString;
    }
    return BlockError::None;
}

BlockError readWString(ByteSource& source, std::wstring& text) {
    std::int32_t length;
    if (!readInt(source, length)) return BlockError::ReadInt;
    if (length < 0 || static_cast<std::uint64_t>(length) > bytesLeft(source)) {
        return BlockError::ReadWString;
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    std::uint32_t got;
    if (length > 0 && !readExact(source, &bytes[0], static_cast<std::uint32_t>(length), got)) {
        return BlockError::ReadWString;
    }
    // UTF-16LE code units; an odd trailing byte cannot form one and is dropped.
    std::size_t units = bytes.size() / 2;
    text.assign(units, L'\0');
    for (std::size_t i = 0; i < units; ++i) {
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return BlockError::None;
}

BlockError seekToAppendedData(ByteSource& source) {
    std::int32_t peOffset;
    std::int16_t sections;
    std::int16_t optionalHeaderSize;
    std::int32_t rawDataSize;
    std::int32_t rawDataOffset;
    // Positions are 32-bit: a wrapped or negative value simply lands beyond
    // the file and the next read fails.
    if (!seekTo(source, 60) || !readInt(source, peOffset)) return BlockError::ReadInt;
    if (!seekTo(source, static_cast<std::uint32_t>(peOffset) + 6) || !readShort(source, sections)) {
        return BlockError::ReadShort;
    }
    logMessage(L"number of sections: %d", static_cast<int>(sections));
    if (!seekTo(source, static_cast<std::uint32_t>(peOffset) + 20) ||
        !readShort(source, optionalHeaderSize)) {
        return BlockError::ReadShort;
    }
    logMessage(L"size of optional headers: %d", static_cast<int>(optionalHeaderSize));
    std::uint32_t tableEnd = static_cast<std::uint32_t>(peOffset) +
                             static_cast<std::uint32_t>(static_cast<std::int32_t>(optionalHeaderSize)) +
                             40u * static_cast<std::uint32_t>(static_cast<std::int32_t>(sections));
    logMessage(L"resSectionTableStart: %d", static_cast<int>(tableEnd - 16));
    if (!seekTo(source, tableEnd) || !readInt(source, rawDataSize)) return BlockError::ReadInt;
    if (!seekTo(source, tableEnd + 4) || !readInt(source, rawDataOffset)) return BlockError::ReadInt;
    logMessage(L"rawDataSize: %d, rawDataOffset: %d", static_cast<int>(rawDataSize),
               static_cast<int>(rawDataOffset));
    if (!seekTo(source, static_cast<std::uint32_t>(rawDataOffset) +
                            static_cast<std::uint32_t>(rawDataSize))) {
        return BlockError::ReadInt;
    }
    return BlockError::None;
}

BlockError parseConfigBlock(ByteSource& source, ConfigStore& store,
                            const std::function<std::string()>& chooseCode) {
    store.settings.clear();
    store.messages.clear();
    store.payloadOffset = 0;

    std::int32_t value;
    if (!readInt(source, value)) return BlockError::ReadInt;
    if (static_cast<std::uint32_t>(value) != kConfigMagic) return BlockError::Magic;
    std::int32_t checkFlag, checksum;
    std::int64_t checkedLength;
    if (!readInt(source, checkFlag) || !readInt(source, checksum)) return BlockError::ReadInt;
    if (!readLong(source, checkedLength)) return BlockError::ReadLong;

    std::int32_t count;
    if (!readInt(source, count)) return BlockError::ReadInt;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t id;
        std::string text;
        if (!readInt(source, id)) return BlockError::ReadInt;
        if (BlockError e = readString(source, text); e != BlockError::None) return e;
        store.settings[id] = std::move(text);
    }

    if (!readInt(source, count)) return BlockError::ReadInt;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t id;
        std::wstring text;
        if (!readInt(source, id)) return BlockError::ReadInt;
        if (BlockError e = readWString(source, text); e != BlockError::None) return e;
        store.messages[id] = std::move(text);
    }

    std::string code = chooseCode ? chooseCode() : std::string("en");

    if (!readInt(source, count)) return BlockError::ReadInt;
    for (std::int32_t g = 0; g < count; ++g) {
        std::string prefix;
        if (BlockError e = readString(source, prefix); e != BlockError::None) return e;
        bool applies = languageGroupApplies(prefix.c_str(), code.c_str());
        std::int32_t entries;
        if (!readInt(source, entries)) return BlockError::ReadInt;
        for (std::int32_t i = 0; i < entries; ++i) {
            std::int32_t id;
            std::wstring text;
            if (!readInt(source, id)) return BlockError::ReadInt;
            if (BlockError e = readWString(source, text); e != BlockError::None) return e;
            if (applies) store.messages[id] = std::move(text);
        }
    }

    store.payloadOffset = static_cast<std::uint32_t>(source.position);
    return BlockError::None;
}
