// Reading the configuration block from the program's own executable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fills the ConfigStore and chooses the language; fatal on any error.
void readConfiguration(const std::vector<std::wstring>& args);

// The executable opened for reading (sharing read and write); the invalid
// handle value on failure.
void* openExecutable();
// Positions `file` at the block start; fatal on a read error.
void seekToAppendedData(void* file);
// Primitive readers at the current position; fatal when the bytes are missing.
std::int32_t readInt(void* file);
std::int16_t readShort(void* file);
std::int64_t readLong(void* file);
std::string readString(void* file);
std::wstring readWString(void* file);
