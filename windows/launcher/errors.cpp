#include "launcher/errors.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bootstrap/splash.h"
#include "config/config_keys.h"
#include "config/config_store.h"
#include "launcher/log.h"
#include "launcher/paths.h"
#include "launcher/run_flags.h"

namespace {

bool errorBoxes = true;
HWND errorOwner = nullptr;

// Standard error in the ANSI code page; "?" for what it cannot spell.
void writeToStandardError(const std::wstring& text) {
    std::wstring line = text + L"\n";
    int n = WideCharToMultiByte(CP_ACP, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                "?", nullptr);
    if (n > 0) {
        std::vector<char> bytes(static_cast<std::size_t>(n));
        WideCharToMultiByte(CP_ACP, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), n,
                            "?", nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    }
    std::fflush(stderr);
}

std::wstring insertArgument(std::wstring text, const wchar_t* argument) {
    if (!argument) return text;
    std::size_t at = text.find(L"{0}");
    if (at != std::wstring::npos) text.replace(at, 3, argument);
    if (text.size() > kMessageBufferSize - 1) text.resize(kMessageBufferSize - 1);
    return text;
}

std::wstring messageOrSetting(int id) {
    std::vector<wchar_t> buffer(kMessageBufferSize);
    getMessageOrSetting(id, buffer.data());
    return buffer.data();
}

}  // namespace

void setErrorOwnerWindow(void* window) { errorOwner = static_cast<HWND>(window); }
void disableErrorBoxes() { errorBoxes = false; }
bool errorBoxesEnabled() { return errorBoxes; }

void getMessageOrSetting(int id, wchar_t* buffer) {
    getMessage(id, buffer);
    if (buffer[0] == L'\0') getSettingW(id, buffer, kMessageBufferSize);
}

void showError(const wchar_t* text) {
    hideSplash();
    std::wstring composed = text ? text : L"";
    const wchar_t* path = logFilePath();
    if (path && *path) {
        std::vector<wchar_t> longForm(kMessageBufferSize);
        DWORD n = GetLongPathNameW(path, longForm.data(), static_cast<DWORD>(longForm.size()));
        std::wstring shown = (n > 0 && n < longForm.size()) ? longForm.data() : path;
        composed += L"\n\nLog: " + shown;
        if (composed.size() > kMessageBufferSize - 1) composed.resize(kMessageBufferSize - 1);
    }
    if (errorBoxes) {
        std::wstring caption = messageOrSetting(msg::kErrorCaption);
        MessageBoxW(errorOwner, composed.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
    } else {
        writeToStandardError(composed);
    }
}

void showErrorById(int id, const wchar_t* argument) {
    showError(insertArgument(messageOrSetting(id), argument).c_str());
}

void showErrorByIdA(int id, const char* argument) {
    if (!argument) {
        showErrorById(id, nullptr);
        return;
    }
    // The runtime's default conversion, bounded like the message buffer.
    std::wstring wide = widenBytes(argument);
    if (wide.size() > kMessageBufferSize - 1) wide.resize(kMessageBufferSize - 1);
    showErrorById(id, wide.c_str());
}

void exitLauncher(int exitCode) {
    if (!languageRestart && !extractionDir.empty()) {
        deleteDirectoryTree(extractionDir.c_str(), true);
        RemoveDirectoryA(extractionDir.c_str());
    }
    // No exit handlers: the log stays for the user to read.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    ExitProcess(static_cast<UINT>(exitCode));
}

void fatalError(const wchar_t* text) {
    showError(text);
    exitLauncher(1);
}

void fatalErrorById(int id) {
    std::vector<wchar_t> buffer(kMessageBufferSize);
    getMessage(id, buffer.data());
    showError(buffer.data());
    exitLauncher(1);
}

void fatalErrorByIdArg(int id, const wchar_t* argument) {
    showErrorById(id, argument);
    exitLauncher(1);
}

void fatalErrorByIdArgA(int id, const char* argument) {
    showErrorByIdA(id, argument);
    exitLauncher(1);
}
