#include "config/config_reader.h"

#include <windows.h>

#include "config/block_format.h"
#include "config/config_keys.h"
#include "config/config_store.h"
#include "config/language.h"
#include "config/language_win.h"
#include "launcher/errors.h"
#include "launcher/log.h"
#include "launcher/paths.h"

namespace {

bool readHandle(void* context, void* buffer, std::uint32_t size, std::uint32_t* got) {
    DWORD n = 0;
    BOOL ok = ReadFile(static_cast<HANDLE>(context), buffer, size, &n, nullptr);
    *got = n;
    return ok != FALSE;
}

bool seekHandle(void* context, std::uint32_t position) {
    LARGE_INTEGER to;
    to.QuadPart = position;
    return SetFilePointerEx(static_cast<HANDLE>(context), to, nullptr, FILE_BEGIN) != FALSE;
}

std::uint32_t lastSystemError(void*) { return GetLastError(); }

ByteSource sourceFor(HANDLE file) {
    ByteSource source;
    source.context = file;
    source.read = readHandle;
    source.seek = seekHandle;
    source.lastError = lastSystemError;
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    source.size = static_cast<std::uint64_t>(size.QuadPart);
    LARGE_INTEGER zero = {}, position = {};
    SetFilePointerEx(file, zero, &position, FILE_CURRENT);
    source.position = static_cast<std::uint64_t>(position.QuadPart);
    return source;
}

[[noreturn]] void failWith(BlockError error) { fatalError(blockErrorText(error)); }

}  // namespace

void* openExecutable() {
    return CreateFileW(getExecutablePathW(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void seekToAppendedData(void* file) {
    ByteSource source = sourceFor(static_cast<HANDLE>(file));
    BlockError error = seekToAppendedData(source);
    if (error != BlockError::None) failWith(error);
}

std::int32_t readInt(void* file) {
    ByteSource source = sourceFor(static_cast<HANDLE>(file));
    std::int32_t value;
    if (!readInt(source, value)) failWith(BlockError::ReadInt);
    return value;
}

std::int16_t readShort(void* file) {
    ByteSource source = sourceFor(static_cast<HANDLE>(file));
    std::int16_t value;
    if (!readShort(source, value)) failWith(BlockError::ReadShort);
    return value;
}

std::int64_t readLong(void* file) {
    ByteSource source = sourceFor(static_cast<HANDLE>(file));
    std::int64_t value;
    if (!readLong(source, value)) failWith(BlockError::ReadLong);
    return value;
}

std::string readString(void* file) {
    ByteSource source = sourceFor(static_cast<HANDLE>(file));
    std::string text;
    BlockError error = readString(source, text);
    if (error != BlockError::None) failWith(error);
    return text;
}

std::wstring readWString(void* file) {
    ByteSource source = sourceFor(static_cast<HANDLE>(file));
    std::wstring text;
    BlockError error = readWString(source, text);
    if (error != BlockError::None) failWith(error);
    return text;
}

void readConfiguration(const std::vector<std::wstring>& args) {
    HANDLE file = static_cast<HANDLE>(openExecutable());
    if (file == INVALID_HANDLE_VALUE) {
        logError(L"Could not open %p %d %s", INVALID_HANDLE_VALUE, static_cast<int>(GetLastError()),
                 getExecutablePathW());
        fatalError(L"Error opening media file.");
    }
    ByteSource source = sourceFor(file);
    BlockError error = seekToAppendedData(source);
    std::string chosenCode;
    if (error == BlockError::None) {
        error = parseConfigBlock(source, configStore(), [&args, &chosenCode] {
            chosenCode = chooseLanguage(args);
            setLanguageCode(chosenCode.c_str());
            return chosenCode;
        });
    }
    CloseHandle(file);
    if (error != BlockError::None) failWith(error);

    int type = static_cast<int>(getSettingInt(key::kExecutableType));
    if (type != kExecutableTypeWindowed && type != kExecutableTypeBoxes) disableErrorBoxes();
}
