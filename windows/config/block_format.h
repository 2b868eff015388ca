// Reading the configuration block appended to the executable image. The
// byte source is abstract, so the same code reads the running executable
// and, in tests, memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "config/config_store.h"

constexpr std::uint32_t kConfigMagic = 0xE8E413D5u;

// Reads and seeks at absolute positions; one call per primitive, no buffering.
struct ByteSource {
    void* context = nullptr;
    // Reads up to `size` bytes at the current position; `got` receives the
    // count. Returns false on a system failure.
    bool (*read)(void* context, void* buffer, std::uint32_t size, std::uint32_t* got) = nullptr;
    bool (*seek)(void* context, std::uint32_t position) = nullptr;
    std::uint32_t (*lastError)(void* context) = nullptr;
    std::uint64_t size = 0;      // total bytes in the source
    std::uint64_t position = 0;  // kept up to date by the readers below
};

enum class BlockError {
    None,
    ReadInt,
    ReadShort,
    ReadLong,
    ReadString,
    ReadWString,
    Magic,
};

// The fixed text reported for each failure.
const wchar_t* blockErrorText(BlockError error);

bool seekTo(ByteSource& source, std::uint32_t position);
bool readInt(ByteSource& source, std::int32_t& value);
bool readShort(ByteSource& source, std::int16_t& value);
bool readLong(ByteSource& source, std::int64_t& value);
// Length-prefixed strings. Lengths are checked against the bytes left, so a
// damaged block cannot make the reader allocate gigabytes.
BlockError readString(ByteSource& source, std::string& text);
BlockError readWString(ByteSource& source, std::wstring& text);

// Positions the source at the end of the PE image (the block start).
BlockError seekToAppendedData(ByteSource& source);

// Reads the block at the current position into `store` (which is cleared
// first). `chooseCode` runs after the base messages and before the language
// groups; it returns the chosen language code that selects the groups.
BlockError parseConfigBlock(ByteSource& source, ConfigStore& store,
                            const std::function<std::string()>& chooseCode);
