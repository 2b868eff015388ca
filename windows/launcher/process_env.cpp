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

namespace {

// The wide value of a variable, however long; false when it exists but
// cannot be read (never a shortened value).
bool readEnvironmentW(const wchar_t* name, std::wstring& value) {
    value.clear();
    std::vector<wchar_t> buffer(1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        DWORD n = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return GetLastError() == ERROR_ENVVAR_NOT_FOUND || GetLastError() == ERROR_SUCCESS;
        if (n < buffer.size()) {
            value.assign(buffer.data(), n);
            return true;
        }
        buffer.resize(static_cast<std::size_t>(n) + 1);
    }
    return false;
}

}  // namespace

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

    // PATH is read and written wide: a round trip through the code page
    // would turn entries it cannot spell into "?". The limit applies to the
    // narrow form, which is what narrow consumers see.
    std::wstring currentPath;
    if (!readEnvironmentW(L"PATH", currentPath)) {
        logError(L"Setting PATH (native libs) skipped: PATH cannot be read (%d)",
                 static_cast<int>(GetLastError()));
        return;
    }
    std::string narrowPath;
    toNarrow(currentPath.c_str(), narrowPath);
    std::string value;
    if (!composeNativeLibraryPath(directories, narrowPath, kNativePathLimit, value)) {
        logError(L"Setting PATH (native libs) skipped: longer than %d bytes",
                 static_cast<int>(kNativePathLimit));
        return;
    }
    std::wstring wideDirectories;
    toWide(directories.c_str(), wideDirectories);
    std::wstring wideValue = wideDirectories;
    if (!wideValue.empty() && wideValue.back() != L';') wideValue += L';';
    wideValue += currentPath;
    if (SetEnvironmentVariableW(L"PATH", wideValue.c_str())) {
        logMessage(L"Setting PATH (native libs) %S", value.c_str());
    } else {
        logMessage(L"Setting PATH (native libs) %S failed with error %d", value.c_str(),
                   static_cast<int>(GetLastError()));
    }
    // The runtime keeps its own copy of the environment for getenv().
    std::wstring assignment = L"PATH=" + wideValue;
    _wputenv(assignment.c_str());
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
