#include "config/config_store.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "launcher/log.h"

ConfigStore& configStore() {
    static ConfigStore store;
    return store;
}

void getMessage(int id, wchar_t* buffer) {
    buffer[0] = L'\0';
    const auto& messages = configStore().messages;
    auto it = messages.find(id);
    if (it == messages.end()) return;
    // Messages are meant to be shorter than the buffer; cut rather than overflow.
    std::size_t n = it->second.size();
    if (n > kConfigBufferSize - 1) n = kConfigBufferSize - 1;
    std::wmemcpy(buffer, it->second.data(), n);
    buffer[n] = L'\0';
}

std::size_t getSetting(int id, char* buffer, std::size_t size) {
    if (size == 0) return 0;
    buffer[0] = '\0';
    const auto& settings = configStore().settings;
    auto it = settings.find(id);
    if (it == settings.end()) return 0;
    std::size_t n = it->second.size();
    if (n > size - 1) {
        logMessage(L"ERROR: config string %d truncated (%d %d)", id, static_cast<int>(size),
                   static_cast<int>(n));
        n = size - 1;
    }
    std::memcpy(buffer, it->second.data(), n);
    buffer[n] = '\0';
    return n;
}

void getSettingW(int id, wchar_t* buffer, std::size_t size) {
    if (size == 0) return;
    buffer[0] = L'\0';
    const auto& settings = configStore().settings;
    auto it = settings.find(id);
    if (it == settings.end()) return;
    // The runtime's default ("C" locale) conversion widens byte by byte.
    std::size_t n = 0;
    for (unsigned char c : it->second) {
        if (c == 0 || n + 1 >= size) break;
        buffer[n++] = static_cast<wchar_t>(c);
    }
    buffer[n] = L'\0';
}

std::string dupSetting(int id) {
    const auto& settings = configStore().settings;
    auto it = settings.find(id);
    return it == settings.end() ? std::string() : it->second;
}

long getSettingInt(int id) {
    const auto& settings = configStore().settings;
    if (settings.find(id) == settings.end()) return 0;
    std::string buffer(kConfigBufferSize, '\0');
    getSetting(id, &buffer[0], buffer.size());
    return std::strtol(buffer.c_str(), nullptr, 10);
}

std::uint32_t getSettingColor(int id) {
    std::string text(kConfigBufferSize, '\0');
    getSetting(id, &text[0], text.size());
    const char* buffer = text.c_str();
    unsigned long parts[3] = {0, 0, 0};
    int count = 0;
    const char* p = buffer;
    while (*p && count < 3) {
        while (*p == ',') ++p;
        if (!*p) break;
        parts[count++] = static_cast<unsigned long>(std::strtol(p, nullptr, 10));
        while (*p && *p != ',') ++p;
    }
    return static_cast<std::uint32_t>((parts[0] & 0xFF) | ((parts[1] & 0xFF) << 8) |
                                      ((parts[2] & 0xFF) << 16));
}
