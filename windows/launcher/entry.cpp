#include "launcher/entry.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "bootstrap/bootstrap.h"
#include "bootstrap/console.h"
#include "bootstrap/progress_dialog.h"
#include "bootstrap/splash.h"
#include "bootstrap/windel.h"
#include "config/config_keys.h"
#include "config/config_reader.h"
#include "config/config_store.h"
#include "launcher/cmdline.h"
#include "launcher/errors.h"
#include "launcher/expand.h"
#include "launcher/log.h"
#include "launcher/paths.h"
#include "launcher/process_env.h"
#include "launcher/run_flags.h"
#include "natives/natives_common.h"

bool quietMode = false;
bool languageRestart = false;
bool extractAndExit = false;
bool integrityCheck = false;
bool manualJre = false;
bool logRequested = false;
char flavour = '\0';
const wchar_t* flavourName = L"corvaline";
void* launcherInstance = nullptr;

namespace {

bool splashSwitch = false;
bool consoleObtained = false;

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Windows Vista (6.0) has the function only with an update that changed its
// behaviour; it is left alone there.
void restrictDllSearch() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    // GetVersionEx lies to unmanifested callers; ntdll tells the truth.
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
    if (!rtlGetVersion || rtlGetVersion(&version) != 0) return;
    if (version.dwMajorVersion == 6 && version.dwMinorVersion == 0) return;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        GetProcAddress(kernel, "SetDefaultDllDirectories"));
    if (!setDefault) return;
    // System directory and explicitly added directories only.
    setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
    logMessage(L"restrict DLL directories");
}

bool isLogSwitch(const std::wstring& arg) {
    return arg == L"-create-cvl-log" || arg == L"-create-tko-log" || arg == L"/create-cvl-log" ||
           arg == L"/create-tko-log";
}

// "-temp DIR": accepted when the directory is usable and has a narrow
// spelling (its own or its short form).
void handleManualTempDir(std::vector<std::wstring>& args) {
    std::size_t at = 0;
    while (at < args.size() && args[at] != L"-temp" && args[at] != L"/temp") ++at;
    if (at == args.size()) return;
    if (at + 1 == args.size() || args[at + 1].empty()) {
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(at));
        return;
    }
    std::wstring wide = args[at + 1];
    std::string narrow;
    bool accepted = false;
    if (isUsableDirectory(wide.c_str(), false, true)) {
        if (toNarrow(wide.c_str(), narrow) && isUsableDirectory(narrow.c_str(), false, true)) {
            accepted = true;
        } else {
            std::vector<wchar_t> shortForm(kPathBufferSize);
            DWORD n = GetShortPathNameW(wide.c_str(), shortForm.data(),
                                        static_cast<DWORD>(shortForm.size()));
            if (n > 0 && n < shortForm.size() && toNarrow(shortForm.data(), narrow) &&
                isUsableDirectory(narrow.c_str(), false, true)) {
                accepted = true;
            }
        }
    }
    if (accepted) {
        setManualTempDir(wide, narrow);
        logMessage(L"Using manual temp dir %s (%S)", wide.c_str(), narrow.c_str());
        return;
    }
    logMessage(L"Manual temp dir not usable %s (%S)", wide.c_str(), narrow.c_str());
    clearManualTempDir();
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(at) + 1);
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(at));
}

void changeWorkingDirectory() {
    std::vector<wchar_t> configured(kPathBufferSize);
    getSettingW(key::kWorkingDirectory, configured.data(), configured.size());
    if (configured[0] == L'\0') {
        logMessage(L"working directory unchanged");
        return;
    }
    expandVariables(configured.data(), PathMode::NarrowDerived);
    std::wstring directory;
    resolveFullPath(directory, configured.data(), PathMode::NarrowDerived, true);
    SetCurrentDirectoryW(directory.c_str());
    logMessage(L"change working directory to %s", directory.c_str());
}

void offerExplorer() {
    const wchar_t* path = logFilePath();
    std::wstring text = L"The following log file will be created:\n\n";
    text += path;
    text += L"\n\nDo you want to open an Explorer window?";
    if (MessageBoxW(nullptr, text.c_str(), flavourName, MB_YESNO) != IDYES) return;
    wchar_t shortPath[MAX_PATH] = L"";
    wchar_t windows[MAX_PATH] = L"";
    DWORD n = GetShortPathNameW(path, shortPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) lstrcpynW(shortPath, path, MAX_PATH);
    UINT w = GetWindowsDirectoryW(windows, MAX_PATH);
    if (w == 0 || w >= MAX_PATH) windows[0] = L'\0';
    std::wstring commandLine = std::wstring(windows) + L"\\explorer.exe /select," + shortPath;
    logMessage(L"calling %s", commandLine.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process)) {
        logMessage(L"could not open explorer window %d", static_cast<int>(GetLastError()));
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void dispatchRunMode(int showCommand) {
    if (quietMode && !splashSwitch) {
        logMessage(L"Quiet installer.");
        runBootstrap(nullptr);
    } else if (getSettingInt(key::kSplashScreen) != 0 && getSettingInt(key::kJavaSplashLibrary) == 0) {
        logMessage(L"Showing splash screen.");
        showSplash(showCommand);
        registerDialogClass();
        runBootstrap(nullptr);
    } else if (getSettingInt(key::kNoProgressDialog) != 0) {
        registerDialogClass();
        runBootstrap(nullptr);
    } else {
        registerDialogClass();
        runProgressDialog();
    }
}

}  // namespace

void readFlavour() {
    char value[2];
    getSetting(key::kFlavour, value, sizeof(value));
    flavour = value[0];
    flavourName = flavour == 'e' ? L"tarko" : L"corvaline";
}

void launcherClassName(char* buffer, std::size_t size) {
    if (size == 0) return;
    const char* name = flavour == 'i' ? "com/corvaline/runtime/launcher/WinLauncher"
                                      : "com/tarko/runtime/WinLauncher";
    lstrcpynA(buffer, name, static_cast<int>(size));
}

void initializeLauncher(void* instance, std::vector<std::wstring>& args) {
    extractionDir.clear();
    if (args.size() > 1 && isLogSwitch(args[1])) {
        args.erase(args.begin() + 1);
        logRequested = true;
    }
    handleManualTempDir(args);
    readConfiguration(args);
    launcherInstance = instance;
    readFlavour();
    if (!languageRestart) changeWorkingDirectory();
    if (logRequested) offerExplorer();
}

void evaluateSwitches(const std::vector<std::wstring>& args) {
    for (const std::wstring& arg : args) {
        if (arg == L"-q") {
            quietMode = true;
            disableErrorBoxes();
        } else if (arg == L"-console") {
            if (attachOrAllocConsole()) consoleObtained = true;
        } else if (arg == L"-splash") {
            splashSwitch = true;
        } else if (arg == L"-nocheck") {
            integrityCheck = false;
        } else if (arg == L"-c") {
            quietMode = true;
            disableErrorBoxes();
            if (!consoleObtained) {
                if (attachOrAllocConsole()) {
                    consoleObtained = true;
                } else {
                    MessageBoxW(nullptr, L"Error: Could not allocate console.", L"corvaline", MB_OK);
                    exitLauncher(1);
                }
            }
        } else if (arg == L"-manual" || arg == L"/manual") {
            manualJre = true;
        }
    }
}

int launcherMain(void* instance, const char* commandTail, int showCommand) {
    const char* tail = commandTail ? commandTail : "";
    restrictDllSearch();
    preloadShellDependencies();
    if (*tail && std::strcmp(tail, "__cvl_reboot") == 0) {
        requestReboot();
        return 0;
    }
    quietMode = false;
    if (startsWith(tail, "__cvl_lang_restart")) {
        logMessage(L"language restart");
        languageRestart = true;
        quietMode = true;
    }
    if (startsWith(tail, "__cvl_extract_and_exit")) {
        logMessage(L"extract and exit mode");
        extractAndExit = true;
    }
    initCommonControls();

    std::vector<std::wstring> args;
    splitCommandLine(GetCommandLineW(), args);

    if (startsWith(tail, "__cvl_windel") && args.size() >= 3) {
        return runDeferredDeletion(args[2].c_str(), 0);
    }

    initializeLauncher(instance, args);
    integrityCheck = true;
    evaluateSwitches(args);
    // The single-instance step joins here.
    launcherInstance = instance;
    logMessage(L"Init done");
    dispatchRunMode(showCommand);
    return 0;
}
