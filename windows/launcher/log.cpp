#include "launcher/log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "launcher/paths.h"
#include "launcher/run_flags.h"

namespace {

struct LogState {
    CRITICAL_SECTION lock;
    bool initialised = false;
    std::wstring path;
    HANDLE file = INVALID_HANDLE_VALUE;
    bool handedOut = false;
};

LogState& logState() {
    // Created on first use and never destroyed: threads may log until the
    // process ends.
    static LogState* state = [] {
        auto* s = new LogState();
        InitializeCriticalSection(&s->lock);
        return s;
    }();
    return *state;
}

std::wstring formatMessage(const wchar_t* format, va_list args) {
    va_list counting;
    va_copy(counting, args);
    int length = _vscwprintf(format, counting);
    va_end(counting);
    if (length < 0) return format;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
    _vsnwprintf(buffer.data(), buffer.size(), format, args);
    buffer.back() = L'\0';
    return std::wstring(buffer.data());
}

// UTF-8 with CRLF line ends, as a Unicode text-mode stream would write it.
void writeText(HANDLE file, const std::wstring& text) {
    std::wstring crlf;
    crlf.reserve(text.size() + 8);
    for (wchar_t c : text) {
        if (c == L'\n') crlf.push_back(L'\r');
        crlf.push_back(c);
    }
    int n = WideCharToMultiByte(CP_UTF8, 0, crlf.c_str(), static_cast<int>(crlf.size()), nullptr, 0,
                                nullptr, nullptr);
    if (n <= 0) return;
    std::vector<char> bytes(static_cast<std::size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, crlf.c_str(), static_cast<int>(crlf.size()), bytes.data(), n,
                        nullptr, nullptr);
    DWORD written;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

HANDLE createLogFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    static const unsigned char bom[] = {0xEF, 0xBB, 0xBF};
    DWORD written;
    WriteFile(file, bom, sizeof(bom), &written, nullptr);
    return file;
}

HANDLE reopenLogFile(const std::wstring& path) {
    return CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void deleteLogAtExit() {
    LogState& state = logState();
    EnterCriticalSection(&state.lock);
    if (!state.handedOut && !state.path.empty()) DeleteFileW(state.path.c_str());
    LeaveCriticalSection(&state.lock);
}

bool environmentSaysYes(const char* name) {
    char value[6000];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
    return n > 0 && n < sizeof(value) && std::strcmp(value, "yes") == 0;
}

void initialiseLog(LogState& state) {
    state.initialised = true;
    bool keep = logRequested || environmentSaysYes("TARKO_LOG") || environmentSaysYes("CORVALINE_LOG");
    if (!keep) std::atexit(deleteLogAtExit);

    std::wstring directory;
    getTempDirectoryW(directory, false);
    if (directory.empty()) {
        directory = L"c:\\";
    } else if (directory.back() != L'\\' && directory.back() != L'/') {
        directory += L'\\';
    }
    for (int n = 1;; ++n) {
        state.path = directory + L"cvl_nlog_" + std::to_wstring(n) + L".log";
        if (n >= 1000 || !fileExists(state.path.c_str())) break;
    }
    state.file = createLogFile(state.path);
    if (state.file == INVALID_HANDLE_VALUE) {
        state.path = L"c:\\cvl_nlog";
        state.file = createLogFile(state.path);
    }
    if (state.file == INVALID_HANDLE_VALUE) return;

    std::vector<wchar_t> module(kPathBufferSize);
    GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    module.back() = L'\0';
    time_t now = time(nullptr);
    const char* when = ctime(&now);
    std::wstring first = L"Started executable " + std::wstring(module.data()) + L" at " +
                         widenBytes(when ? when : "\n") + L"\n";
    writeText(state.file, first);
}

void writeEntry(bool error, const wchar_t* format, va_list args) {
    DWORD savedError = GetLastError();  // callers log GetLastError() after the call too
    LogState& state = logState();
    EnterCriticalSection(&state.lock);
    if (!state.path.empty() && state.file == INVALID_HANDLE_VALUE) {
        state.file = reopenLogFile(state.path);
    }
    if (!state.initialised) {
        SetLastError(savedError);
        initialiseLog(state);
    }
    if (state.file != INVALID_HANDLE_VALUE) {
        std::wstring line = (error ? L"ERROR: " : L"") + formatMessage(format, args) + L"\n";
        writeText(state.file, line);
        CloseHandle(state.file);
        state.file = INVALID_HANDLE_VALUE;
    }
    LeaveCriticalSection(&state.lock);
    SetLastError(savedError);
}

}  // namespace

void logMessage(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeEntry(false, format, args);
    va_end(args);
}

void logError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeEntry(true, format, args);
    va_end(args);
}

const wchar_t* logFilePath() {
    LogState& state = logState();
    EnterCriticalSection(&state.lock);
    state.handedOut = true;
    const wchar_t* path = state.path.c_str();
    LeaveCriticalSection(&state.lock);
    return path;
}
