// The numbered settings (narrow) and messages (wide) of the configuration
// block. Filled once during start-up, read-only afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

struct ConfigStore {
    std::map<std::int32_t, std::string> settings;
    std::map<std::int32_t, std::wstring> messages;
    std::uint32_t payloadOffset = 0;
};

ConfigStore& configStore();

constexpr std::size_t kConfigBufferSize = 6000;

// Copies message `id` into `buffer` (kConfigBufferSize characters); "" when absent.
void getMessage(int id, wchar_t* buffer);
// Copies at most size-1 bytes and terminates; logs when the value is cut.
// Returns the number of bytes copied.
std::size_t getSetting(int id, char* buffer, std::size_t size);
// The setting widened byte by byte, into at most `size` characters.
void getSettingW(int id, wchar_t* buffer, std::size_t size);
std::string dupSetting(int id);
// Leading decimal number as strtol reads it; 0 when absent or not a number.
long getSettingInt(int id);
// "r,g,b" as 0x00BBGGRR; components reduced to 8 bits, missing ones 0.
std::uint32_t getSettingColor(int id);
