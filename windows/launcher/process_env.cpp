#include "launcher/process_env.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/config_keys.h"
#include "config/config_store.h"
#include "launcher/expand.h"
#include "launcher/log.h"
#include "launcher/path_utils.h"
#include "launcher/paths.h"

void* addDllDirectory(const char* path) {
    using AddDllDirectoryFn = DLL_DIRECTORY_COOKIE(WINAPI*)(PCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto add = kernel ? reinterpret_cast<AddDllDirectoryFn>(GetProcAddress(kernel, "AddDllDirectory"))
                      : nullptr;
    if (!add) return nullptr;
    std::wstring wide;
    if (!toWide(path, wide) || wide.size() >= kPathBufferSize) return nullptr;
    logMessage(L"Adding DLL directory %s", wide.c_str());
    return add(wide.c_str());
}

void removeDllDirectory(void* cookie) {
    if (!cookie) return;
    using RemoveDllDirectoryFn = BOOL(WINAPI*)(DLL_DIRECTORY_COOKIE);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto remove = kernel ? reinterpret_cast<RemoveDllDirectoryFn>(
                               GetProcAddress(kernel, "RemoveDllDirectory"))
                         : nullptr;
    if (!remove) return;
    logMessage(L"Removing DLL directory");
    remove(cookie);
}

void setNativeLibraryPath() {
    std::string configured(kConfigBufferSize, '\0');
    getSetting(key::kNativeLibraryDirectories, &configured[0], configured.size());
    configured.resize(std::strlen(configured.c_str()));
    logMessage(L"native lib dir is %S", configured.c_str());
    expandVariablesA(configured);

    std::string directories;
    splitPathList(directories, configured.c_str(), [](const std::string& entry) {
        addDllDirectory(entry.c_str());
    });

    std::string currentPath;
    DWORD needed = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (needed > 0) {
        std::vector<char> buffer(needed + 1);
        DWORD n = GetEnvironmentVariableA("PATH", buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n > 0 && n < buffer.size()) currentPath = buffer.data();
    }
    std::string value;
    if (!composeNativeLibraryPath(directories, currentPath, kNativePathLimit, value)) {
        logError(L"Setting PATH (native libs) skipped: %d bytes exceed the limit of %d",
                 static_cast<int>(directories.size() + currentPath.size() + 1),
                 static_cast<int>(kNativePathLimit));
        return;
    }
    if (SetEnvironmentVariableA("PATH", value.c_str())) {
        logMessage(L"Setting PATH (native libs) %S", value.c_str());
    } else {
        logMessage(L"Setting PATH (native libs) %S failed with error %d", value.c_str(),
                   static_cast<int>(GetLastError()));
    }
    // The runtime keeps its own copy of the environment for getenv().
    std::string assignment = "PATH=" + value;
    _putenv(assignment.c_str());
}

void requestReboot() {
    Sleep(5000);
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges = {};
    if (LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        if (GetLastError() == ERROR_SUCCESS) ExitWindowsEx(EWX_REBOOT, 0);
    }
    CloseHandle(token);
}

void initCommonControls() {
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    if (!comctl) comctl = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the search flags reject them; the search order is
    // already restricted there or the call is the same as before.
    if (!comctl) comctl = LoadLibraryW(L"comctl32.dll");
    if (!comctl) return;
    using InitFn = void(WINAPI*)();
    if (auto init = reinterpret_cast<InitFn>(GetProcAddress(comctl, "InitCommonControls"))) init();
}

void centerWindow(void* handle) {
    HWND window = static_cast<HWND>(handle);
    RECT self, area;
    if (!GetWindowRect(window, &self)) return;
    HWND parent = GetParent(window);
    if (!parent || !GetWindowRect(parent, &area)) GetWindowRect(GetDesktopWindow(), &area);
    long width = self.right - self.left;
    long height = self.bottom - self.top;
    long x = area.left + ((area.right - area.left) - width) / 2;
    long y = area.top + ((area.bottom - area.top) - height) / 2;
    SetWindowPos(window, nullptr, static_cast<int>(x), static_cast<int>(y), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
