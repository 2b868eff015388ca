#include "launcher/paths.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "config/config_keys.h"
#include "launcher/errors.h"
#include "launcher/log.h"
#include "launcher/path_utils.h"

std::string extractionDir;

namespace {

UINT fileSystemCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

struct ExecutablePaths {
    bool done = false;
    std::string narrow;
    std::wstring wide;
};

ExecutablePaths& executablePaths();

struct Directories {
    bool done = false;
    std::string narrow;
    std::wstring narrowDerived;
    std::wstring longForm;
};

std::wstring directoryPart(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::string directoryPart(const std::string& path) {
    std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::wstring fullPathOf(const wchar_t* path) {
    std::vector<wchar_t> buffer(kPathBufferSize);
    DWORD n = GetFullPathNameW(path, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0 || n >= buffer.size()) return path;
    return buffer.data();
}

std::string fullPathOf(const char* path) {
    std::vector<char> buffer(kPathBufferSize);
    DWORD n = GetFullPathNameA(path, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0 || n >= buffer.size()) return path;
    return buffer.data();
}

Directories& directories() {
    static Directories dirs;
    if (!dirs.done) {
        dirs.done = true;
        dirs.narrow = directoryPart(fullPathOf(getExecutablePath()));
        dirs.narrowDerived = widenBytes(dirs.narrow.c_str());
        dirs.longForm = directoryPart(fullPathOf(getExecutablePathW()));
    }
    return dirs;
}

bool endsWithExe(const std::string& path) {
    return path.size() >= 4 && _stricmp(path.c_str() + path.size() - 4, ".exe") == 0;
}

ExecutablePaths& executablePaths() {
    static ExecutablePaths paths;
    if (paths.done) return paths;
    paths.done = true;

    std::vector<wchar_t> module(kPathBufferSize), longForm(kPathBufferSize);
    GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    module.back() = L'\0';
    DWORD n = GetLongPathNameW(module.data(), longForm.data(), static_cast<DWORD>(longForm.size()));
    logMessage(L"init file name %s %s %d %d", module.data(), longForm.data(), static_cast<int>(n),
               static_cast<int>(GetLastError()));
    paths.wide = (n > 0 && n < longForm.size()) ? longForm.data() : module.data();

    std::string narrow;
    if (toNarrow(paths.wide.c_str(), narrow) && endsWithExe(narrow)) {
        paths.narrow = narrow;
    } else {
        std::vector<wchar_t> shortForm(kPathBufferSize);
        DWORD s = GetShortPathNameW(paths.wide.c_str(), shortForm.data(),
                                    static_cast<DWORD>(shortForm.size()));
        if (s > 0 && s < shortForm.size() && toNarrow(shortForm.data(), narrow) &&
            endsWithExe(narrow)) {
            paths.narrow = narrow;
        } else {
            std::vector<char> moduleA(kPathBufferSize), shortA(kPathBufferSize);
            GetModuleFileNameA(nullptr, moduleA.data(), static_cast<DWORD>(moduleA.size()));
            moduleA.back() = '\0';
            DWORD sa = GetShortPathNameA(moduleA.data(), shortA.data(),
                                         static_cast<DWORD>(shortA.size()));
            paths.narrow = (sa > 0 && sa < shortA.size()) ? shortA.data() : moduleA.data();
        }
    }
    collapseBackslashes(paths.wide);
    collapseBackslashesA(paths.narrow);
    return paths;
}

// Manual ("-temp") and chosen temporary directories.
struct TempState {
    bool manual = false;
    std::wstring manualWide;
    std::string manualNarrow;
    std::string cachedNarrow;
    std::wstring cachedWide;
    bool relaxed = false;
};

TempState& tempState() {
    static TempState state;
    return state;
}

std::wstring environmentW(const wchar_t* name) {
    std::vector<wchar_t> buffer(kPathBufferSize);
    DWORD n = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return std::wstring();
    return buffer.data();
}

std::wstring windowsDirectory() {
    std::vector<wchar_t> buffer(kPathBufferSize);
    UINT n = GetWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return std::wstring();
    return buffer.data();
}

std::wstring systemTempPath() {
    std::vector<wchar_t> buffer(kPathBufferSize);
    DWORD n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) return std::wstring();
    return buffer.data();
}

}  // namespace

static std::wstring chooseTempDirectoryW() {
    bool relaxed = false;
    std::wstring chosen =
        chooseTempDirectoryAmong(tempDirectoryCandidates(false), tempDirectoryCandidates(true), relaxed);
    if (relaxed) tempState().relaxed = true;
    return chosen;
}

bool toNarrow(const wchar_t* text, std::string& out) {
    out.clear();
    if (!text || !*text) return true;
    UINT cp = fileSystemCodePage();
    int n = WideCharToMultiByte(cp, 0, text, -1, nullptr, 0, "?", nullptr);
    if (n <= 0) return false;
    std::vector<char> buffer(static_cast<std::size_t>(n));
    BOOL usedDefault = FALSE;
    // UTF-8 and UTF-7 code pages refuse the default-character arguments.
    bool utf = cp == CP_UTF8 || GetACP() == CP_UTF8;
    n = WideCharToMultiByte(cp, 0, text, -1, buffer.data(), n, utf ? nullptr : "?",
                            utf ? nullptr : &usedDefault);
    if (n <= 0) return false;
    out = buffer.data();
    return !usedDefault;
}

bool toWide(const char* text, std::wstring& out) {
    out.clear();
    if (!text || !*text) return true;
    UINT cp = fileSystemCodePage();
    int n = MultiByteToWideChar(cp, 0, text, -1, nullptr, 0);
    if (n <= 0) return false;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(n));
    if (MultiByteToWideChar(cp, 0, text, -1, buffer.data(), n) <= 0) return false;
    out = buffer.data();
    return true;
}

std::wstring widenBytes(const char* text) {
    std::wstring out;
    for (; text && *text; ++text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    return out;
}

const char* getExecutablePath() { return executablePaths().narrow.c_str(); }
const wchar_t* getExecutablePathW() { return executablePaths().wide.c_str(); }
const char* getExecutableDirectory() { return directories().narrow.c_str(); }

const wchar_t* getExecutableDirectoryW(PathMode mode) {
    return mode == PathMode::Long ? directories().longForm.c_str()
                                  : directories().narrowDerived.c_str();
}

bool fileExists(const char* path) {
    if (isDriveRootForm(path)) return true;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

bool fileExists(const wchar_t* path) {
    if (isDriveRootForm(path)) return true;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(path, &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

void collapseBackslashesA(std::string& path) {
    std::wstring wide;
    if (!toWide(path.c_str(), wide)) return;
    collapseBackslashes(wide);
    std::string narrow;
    if (toNarrow(wide.c_str(), narrow)) path = narrow;
}

void lowerPathA(std::string& path) {
    std::wstring wide;
    if (!toWide(path.c_str(), wide)) return;
    for (wchar_t& c : wide) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    std::string narrow;
    if (toNarrow(wide.c_str(), narrow)) path = narrow;
}

void resolvePath(std::string& out, const char* path, const char* baseFile) {
    out.clear();
    if (isRelativePath(path)) {
        out = baseFile ? directoryPart(fullPathOf(baseFile)) : std::string(getExecutableDirectory());
    }
    out += path;
    collapseBackslashesA(out);
}

void resolvePath(std::wstring& out, const wchar_t* path, PathMode mode, const wchar_t* baseFile) {
    out.clear();
    if (isRelativePath(path)) {
        out = baseFile ? directoryPart(fullPathOf(baseFile)) : std::wstring(getExecutableDirectoryW(mode));
    }
    out += path;
    collapseBackslashes(out);
}

void resolveFullPath(std::string& out, const char* path, bool keepCase) {
    std::string resolved;
    resolvePath(resolved, path);
    out = fullPathOf(resolved.c_str());
    if (!keepCase) lowerPathA(out);
    collapseBackslashesA(out);
}

void resolveFullPath(std::wstring& out, const wchar_t* path, PathMode mode, bool keepCase) {
    std::wstring resolved;
    resolvePath(resolved, path, mode);
    out = fullPathOf(resolved.c_str());
    if (!keepCase) {
        for (wchar_t& c : out) {
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    collapseBackslashes(out);
}

void splitPathList(std::string& out, const char* list,
                   const std::function<void(const std::string&)>& callback) {
    out.clear();
    std::string text(list ? list : "");
    if (text.size() > kPathBufferSize - 1) text.resize(kPathBufferSize - 1);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            std::string entry = text.substr(start, end - start);
            std::string resolved;
            resolvePath(resolved, entry.c_str());
            if (!out.empty()) out += ';';
            out += resolved;
            if (callback && !resolved.empty()) callback(resolved);
        }
        start = end + 1;
    }
}

std::vector<std::string> listFilesWithExtension(const char* directory, const char* extension) {
    std::vector<std::string> names;
    std::string pattern = std::string(directory) + "\\*";
    if (extension[0] != '.') pattern += '.';
    pattern += extension;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        names.emplace_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

bool isUsableDirectory(const wchar_t* directory, bool createFirst, bool rejectUnrepresentable) {
    if (!directory || !*directory) return false;
    // Paths are used without the long-path prefix, so MAX_PATH is their limit
    // anyway; longer ones also overrun fixed buffers in some implementations
    // of the long-name lookup (seen under Wine).
    if (wcslen(directory) >= MAX_PATH) return false;
    if (createFirst) CreateDirectoryW(directory, nullptr);
    if (rejectUnrepresentable) {
        std::vector<wchar_t> longForm(kPathBufferSize);
        DWORD n = GetLongPathNameW(directory, longForm.data(), static_cast<DWORD>(longForm.size()));
        if (n > 0 && n < longForm.size()) {
            std::string narrow;
            if (!toNarrow(longForm.data(), narrow) || narrow.find('?') != std::string::npos) {
                return false;
            }
        }
    }
    // A directory can exist yet refuse new entries: probe with a directory.
    DWORD pid = GetCurrentProcessId();
    srand(static_cast<unsigned>(pid * static_cast<unsigned>(time(nullptr))));
    int r = rand();
    // Built whole: a cut name would probe (and create) some other directory.
    std::wstring probe = std::wstring(directory) + L"\\tkotw" + std::to_wstring(pid) + std::to_wstring(r);
    RemoveDirectoryW(probe.c_str());
    if (!CreateDirectoryW(probe.c_str(), nullptr)) return false;
    bool exists = fileExists(probe.c_str());
    RemoveDirectoryW(probe.c_str());
    return exists;
}

bool isUsableDirectory(const char* directory, bool createFirst, bool rejectUnrepresentable) {
    if (!directory || !*directory) return false;
    std::wstring wide;
    if (!toWide(directory, wide)) return false;
    return isUsableDirectory(wide.c_str(), createFirst, rejectUnrepresentable);
}

void setManualTempDir(const std::wstring& wide, const std::string& narrow) {
    TempState& state = tempState();
    state.manual = true;
    state.manualWide = wide;
    state.manualNarrow = narrow;
}

void clearManualTempDir() {
    TempState& state = tempState();
    state.manual = false;
    state.manualWide.clear();
    state.manualNarrow.clear();
}

bool hasManualTempDir() { return tempState().manual; }

void getTempDirectory(std::string& out) {
    TempState& state = tempState();
    if (state.manual) {
        out = state.manualNarrow;
        return;
    }
    if (state.cachedNarrow.empty()) {
        std::wstring chosen = chooseTempDirectoryW();
        std::string narrow;
        toNarrow(chosen.c_str(), narrow);
        // The relaxed pass may pick a path the code page cannot spell; its
        // short form usually can.
        if (narrow.find('?') != std::string::npos) {
            std::vector<wchar_t> shortForm(kPathBufferSize);
            DWORD n = GetShortPathNameW(chosen.c_str(), shortForm.data(),
                                        static_cast<DWORD>(shortForm.size()));
            if (n > 0 && n < shortForm.size()) toNarrow(shortForm.data(), narrow);
        }
        if (narrow.empty()) fatalErrorByIdArg(msg::kNoTempDirectory, nullptr);
        state.cachedNarrow = narrow;
    }
    out = state.cachedNarrow;
}

void getTempDirectoryW(std::wstring& out, bool fatal) {
    TempState& state = tempState();
    if (state.manual) {
        out = state.manualWide;
        return;
    }
    if (state.cachedWide.empty()) {
        std::wstring chosen = chooseTempDirectoryW();
        if (chosen.empty()) {
            if (fatal) fatalErrorByIdArg(msg::kNoTempDirectory, nullptr);
            out.clear();
            return;
        }
        state.cachedWide = chosen;
    }
    out = state.cachedWide;
}

bool relaxedTempDirUsed() { return tempState().relaxed; }

std::vector<TempCandidate> tempDirectoryCandidates(bool relaxedPass) {
    const std::wstring profile = environmentW(L"USERPROFILE");
    const std::wstring homeDrive = environmentW(L"HOMEDRIVE");
    const std::wstring homePath = environmentW(L"HOMEPATH");
    const std::wstring profileTemp = profile.empty() ? L"" : profile + L"\\AppData\\Local\\Temp";
    const std::wstring home = (homeDrive.empty() || homePath.empty()) ? L"" : homeDrive + homePath;
    if (relaxedPass) {
        return {{systemTempPath(), true, false}, {profileTemp, false, false}, {home, false, false}};
    }
    const std::wstring windows = windowsDirectory();
    return {
        {systemTempPath(), true, true},
        {profileTemp, false, true},
        {home, false, true},
        {windows.empty() ? L"" : windows + L"\\temp", false, false},
        {L"c:\\temp", false, false},
        {L"c:\\tmp", false, false},
        {windows, false, false},
        {L"c:\\tmp", true, false},
    };
}

std::wstring chooseTempDirectoryAmong(const std::vector<TempCandidate>& strict,
                                      const std::vector<TempCandidate>& relaxed, bool& relaxedUsed) {
    for (const TempCandidate& c : strict) {
        if (!c.path.empty() && isUsableDirectory(c.path.c_str(), c.createFirst, c.rejectUnrepresentable)) {
            return c.path;
        }
    }
    relaxedUsed = true;
    for (const TempCandidate& c : relaxed) {
        if (!c.path.empty() && isUsableDirectory(c.path.c_str(), c.createFirst, c.rejectUnrepresentable)) {
            return c.path;
        }
    }
    return std::wstring();
}

void makeTempFileName(std::string& out) {
    std::string directory;
    getTempDirectory(directory);
    logMessage(L"tempPath is %S", directory.c_str());
    std::vector<char> name(MAX_PATH + 1);
    if (directory.size() < MAX_PATH - 14 &&
        GetTempFileNameA(directory.c_str(), "tko", 0, name.data()) != 0) {
        out = name.data();
    } else {
        logMessage(L"GetTempFileName failed (last error %d)", static_cast<int>(GetLastError()));
        if (directory.empty() || (directory.back() != '\\' && directory.back() != '/')) {
            directory += '\\';
        }
        DWORD pid = GetCurrentProcessId();
        srand(static_cast<unsigned>(pid * static_cast<unsigned>(time(nullptr))));
        out = directory + "tko" + std::to_string(rand());
    }
    logMessage(L"tempFile is %S", out.c_str());
}

void createExtractionDirectory() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::string name;
        makeTempFileName(name);
        extractionDir = name + "_dir" + std::to_string(static_cast<long long>(time(nullptr)));
        logMessage(L"Temp dir3: %S", extractionDir.c_str());
        if (CreateDirectoryA(extractionDir.c_str(), nullptr)) return;
        logMessage(L"Could not create dir (%d)", static_cast<int>(GetLastError()));
    }
    extractionDir.clear();
    fatalErrorByIdArgA(msg::kInternalError, internal_error::kExtractionDirectory);
}

void deleteDirectoryTree(const char* directory, bool descend) {
    if (!directory || !*directory || directory[0] == '.') return;
    logMessage(L"emptying %S", directory);
    std::string base(directory);
    if (base.back() != '\\') base += '\\';
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((base + "*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
        std::string entry = base + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            logMessage(L"attempting to remove %S (%d)", entry.c_str(), descend ? 1 : 0);
            if (descend) deleteDirectoryTree(entry.c_str(), false);
            RemoveDirectoryA(entry.c_str());
        } else {
            logMessage(L"attempting to delete %S", entry.c_str());
            DeleteFileA(entry.c_str());
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}
