// runProgram: command line, environment block, redirected output, bounded waits.
#include "harness.h"
#include "harness_internal.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace harness {

using detail::Handle;

namespace {

// All runs of a test program share one directory for captured output and default temp
// directories; it goes away when the test program exits.
class SessionDir {
public:
    const std::wstring& path() {
        std::call_once(once_, [this] { path_ = detail::makeUniqueDirectory(detail::windowsTempDir(), L"harness-"); });
        return path_;
    }
    ~SessionDir() {
        if (!path_.empty() && !detail::keepTemp()) removeTree(path_);
    }

private:
    std::once_flag once_;
    std::wstring path_;
};

SessionDir& session() {
    static SessionDir dir;
    return dir;
}

// Inheritable handles exist only between their creation and CreateProcessW: this keeps runs on
// other threads from passing them to their children.
std::mutex& inheritMutex() {
    static std::mutex m;
    return m;
}

bool sameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

using EnvList = std::vector<std::pair<std::wstring, std::wstring>>;

EnvList currentEnvironment() {
    EnvList env;
    LPWCH block = GetEnvironmentStringsW();
    if (block == nullptr) return env;
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
        std::wstring entry = p;
        // Names may start with '=' (the per-drive current directories "=C:=C:\...").
        size_t eq = entry.find(L'=', 1);
        if (eq == std::wstring::npos) continue;
        env.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    }
    FreeEnvironmentStringsW(block);
    return env;
}

void setVariable(EnvList& env, const std::wstring& name, const std::optional<std::wstring>& value) {
    auto it = std::find_if(env.begin(), env.end(), [&](const auto& e) { return sameName(e.first, name); });
    if (!value) {
        if (it != env.end()) env.erase(it);
    } else if (it != env.end()) {
        it->second = *value;
    } else {
        env.emplace_back(name, *value);
    }
}

// Windows keeps the block sorted by name, case-insensitively.
std::wstring environmentBlock(EnvList env) {
    std::stable_sort(env.begin(), env.end(), [](const auto& a, const auto& b) {
        return CompareStringOrdinal(a.first.c_str(), static_cast<int>(a.first.size()), b.first.c_str(),
                                    static_cast<int>(b.first.size()), TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const auto& e : env) {
        block += e.first;
        block += L'=';
        block += e.second;
        block += L'\0';
    }
    if (block.empty()) block += L'\0';
    block += L'\0';
    return block;
}

bool isLocaleVariable(const std::wstring& name) {
    return sameName(name, L"LANG") || sameName(name, L"LC_ALL") || sameName(name, L"LC_CTYPE") ||
           sameName(name, L"LC_MESSAGES");
}

Handle inheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("runProgram: cannot open " + toUtf8(path) + ": " + detail::errorText(GetLastError()));
    }
    return Handle(h);
}

std::string readIfPresent(const std::wstring& path) {
    if (!fileExists(path)) return {};
    std::vector<std::uint8_t> data = readFileBytes(path);
    return std::string(data.begin(), data.end());
}

// Every process started (directly or not) by `root`, found through parent ids. Processes
// created before the root cannot be its descendants (guards against reused ids).
std::vector<DWORD> descendants(DWORD root, HANDLE rootHandle) {
    FILETIME rootCreated{}, unused{};
    GetProcessTimes(rootHandle, &rootCreated, &unused, &unused, &unused);
    std::vector<std::pair<DWORD, DWORD>> all;  // pid, parent
    Handle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.valid()) return {};
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap.get(), &pe); ok; ok = Process32NextW(snap.get(), &pe)) {
        all.emplace_back(pe.th32ProcessID, pe.th32ParentProcessID);
    }
    std::vector<DWORD> found;
    std::set<DWORD> seen{root};
    std::vector<DWORD> frontier{root};
    while (!frontier.empty()) {
        DWORD parent = frontier.back();
        frontier.pop_back();
        for (const auto& [pid, ppid] : all) {
            if (ppid != parent || seen.count(pid)) continue;
            Handle h(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
            FILETIME created{};
            if (h.valid() && GetProcessTimes(h.get(), &created, &unused, &unused, &unused) &&
                CompareFileTime(&created, &rootCreated) < 0) {
                continue;
            }
            seen.insert(pid);
            found.push_back(pid);
            frontier.push_back(pid);
        }
    }
    return found;
}

void killTree(DWORD pid, HANDLE process) {
    std::vector<DWORD> children = descendants(pid, process);
    TerminateProcess(process, 1);
    for (DWORD child : children) {
        Handle h(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, child));
        if (!h.valid()) continue;
        TerminateProcess(h.get(), 1);
        WaitForSingleObject(h.get(), 5000);
    }
    WaitForSingleObject(process, 10000);
}

struct Started {
    Handle process;
    DWORD pid = 0;
};

// Direct start: the child inherits this process's Unix environment, so its locale is ours.
Started startDirect(const std::wstring& exe, std::wstring& commandLine, std::wstring& envBlock,
                    const std::wstring& workDir, const std::wstring& outPath, const std::wstring& errPath) {
    std::lock_guard<std::mutex> lock(inheritMutex());
    Handle in = inheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
    Handle out = inheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    Handle err = inheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in.get();
    si.hStdOutput = out.get();
    si.hStdError = err.get();
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                        &envBlock[0], workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
        throw std::runtime_error("runProgram: cannot start " + toUtf8(exe) + ": " + detail::errorText(GetLastError()));
    }
    CloseHandle(pi.hThread);
    return {Handle(pi.hProcess), pi.dwProcessId};
}

std::wstring quoteForLoader(const std::wstring& s) { return L"\"" + s + L"\""; }

// Start through the Wine loader: a Windows program that starts a Unix program hands it its
// environment block as the Unix environment, and Wine sets up a new process's locale from
// that. The loader runs harness_locale_spawn, which creates the real program (suspended) with
// the exact command line and environment block, reports its id and lets it run once this
// process holds a handle to it. Control files live in ctlDir.
Started startThroughLoader(const std::wstring& exe, const std::wstring& commandLine, const std::wstring& envBlock,
                           const std::wstring& workDir, const std::wstring& outPath, const std::wstring& errPath,
                           const std::wstring& ctlDir, const EnvList& loaderEnv) {
    static std::atomic<unsigned> counter{0};
    std::wstring eventName = L"harness-go-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(counter.fetch_add(1)) + L"-" + std::to_wstring(GetTickCount64());
    Handle go(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    if (!go.valid()) throw std::runtime_error("runProgram: CreateEventW failed: " + detail::errorText(GetLastError()));

    // Fields separated by NULs, in UTF-16: program, command line, working directory, stdout,
    // stderr, event name.
    std::wstring fields = exe + L'\0' + commandLine + L'\0' + workDir + L'\0' + outPath + L'\0' + errPath + L'\0' +
                          eventName + L'\0';
    auto bytesOf = [](const std::wstring& s) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
        return std::vector<std::uint8_t>(p, p + s.size() * sizeof(wchar_t));
    };
    writeFileBytes(ctlDir + L"\\cmd", bytesOf(fields));
    writeFileBytes(ctlDir + L"\\env", bytesOf(envBlock));
    // Created here so they exist even when the program never writes.
    writeFileBytes(outPath, {});
    writeFileBytes(errPath, {});

    std::wstring loader = L"/usr/lib/wine/wine64";
    for (const auto& e : loaderEnv) {
        if (sameName(e.first, L"WINELOADER") && !e.second.empty()) loader = e.second;
    }
    std::wstring loaderPath = windowsPath(toUtf8(loader));
    // The loader finds the rest of Wine through its argv[0]: that must be the Unix path.
    std::wstring loaderCmd = quoteForLoader(loader) + L" " + quoteForLoader(detail::localeSpawnPath()) + L" " +
                             quoteForLoader(ctlDir);
    std::wstring loaderBlock = environmentBlock(loaderEnv);
    {
        std::lock_guard<std::mutex> lock(inheritMutex());
        // The loader's standard handles become its Unix descriptors: NUL, never our pipes.
        Handle nul = inheritableFile(L"NUL", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = si.hStdOutput = si.hStdError = nul.get();
        PROCESS_INFORMATION pi{};
        // For a Unix program Wine returns no usable handle or id: the helper reports back instead.
        if (!CreateProcessW(loaderPath.c_str(), &loaderCmd[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                            &loaderBlock[0], nullptr, &si, &pi)) {
            throw std::runtime_error("runProgram: cannot start the Wine loader " + toUtf8(loaderPath) + ": " +
                                     detail::errorText(GetLastError()));
        }
        if (pi.hThread) CloseHandle(pi.hThread);
        if (pi.hProcess) CloseHandle(pi.hProcess);
    }

    std::wstring pidFile = ctlDir + L"\\pid";
    std::wstring errorFile = ctlDir + L"\\error";
    ULONGLONG deadline = GetTickCount64() + 30000;
    while (GetTickCount64() < deadline) {
        if (fileExists(errorFile)) {
            throw std::runtime_error("runProgram: cannot start " + toUtf8(exe) + " in another locale: " +
                                     readIfPresent(errorFile));
        }
        if (fileExists(pidFile)) {
            DWORD pid = static_cast<DWORD>(std::stoul(readIfPresent(pidFile)));
            Handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | PROCESS_VM_READ,
                                       FALSE, pid));
            if (!process.valid()) {
                throw std::runtime_error("runProgram: cannot open the started process " + std::to_string(pid) + ": " +
                                         detail::errorText(GetLastError()));
            }
            SetEvent(go.get());
            return {std::move(process), pid};
        }
        Sleep(10);
    }
    throw std::runtime_error("runProgram: the locale helper did not start " + toUtf8(exe) + " within 30 s");
}

void collectLogs(RunResult& result) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((result.tempDir + L"\\cvl_nlog*.log").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    std::vector<std::pair<std::wstring, FILETIME>> logs;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) logs.emplace_back(fd.cFileName, fd.ftLastWriteTime);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    if (logs.empty()) return;
    std::sort(logs.begin(), logs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    size_t newest = 0;
    for (size_t i = 1; i < logs.size(); ++i) {
        if (CompareFileTime(&logs[i].second, &logs[newest].second) >= 0) newest = i;
    }
    for (const auto& l : logs) result.logFiles.push_back(result.tempDir + L"\\" + l.first);
    std::vector<std::uint8_t> data = readFileBytes(result.logFiles[newest]);
    result.logHasBom = data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
    result.log.assign(data.begin() + (result.logHasBom ? 3 : 0), data.end());
}

}  // namespace

std::wstring joinArgs(const std::vector<std::wstring>& args) {
    std::wstring tail;
    for (const std::wstring& a : args) {
        if (!tail.empty()) tail += L' ';
        if (!a.empty() && a.find(L' ') == std::wstring::npos) {
            tail += a;
        } else if (a.find(L'"') == std::wstring::npos) {
            tail += L"\"" + a + L"\"";
        } else if (a.find(L'\'') == std::wstring::npos) {
            tail += L"'" + a + L"'";
        } else {
            throw std::invalid_argument("joinArgs: an argument with a space and both quote kinds cannot be "
                                        "expressed; use RunOptions::rawTail");
        }
    }
    return tail;
}

RunResult runProgram(const std::wstring& exe, const RunOptions& options) {
    RunResult result;
    std::wstring runDir = detail::makeUniqueDirectory(session().path(), L"run-");
    std::wstring outPath = runDir + L"\\stdout.txt";
    std::wstring errPath = runDir + L"\\stderr.txt";
    if (options.tempDir.empty()) {
        result.tempDir = runDir + L"\\temp";
        if (!CreateDirectoryW(result.tempDir.c_str(), nullptr)) {
            throw std::runtime_error("runProgram: cannot create " + toUtf8(result.tempDir));
        }
    } else {
        result.tempDir = options.tempDir;
    }

    result.commandLine = L"\"" + exe + L"\" " + (options.rawTail ? *options.rawTail : joinArgs(options.args));

    EnvList env = currentEnvironment();
    setVariable(env, L"TMP", result.tempDir);
    setVariable(env, L"TEMP", result.tempDir);
    bool localeChanged = false;
    EnvList loaderEnv = currentEnvironment();
    for (const auto& [name, value] : options.env) {
        setVariable(env, name, value);
        if (isLocaleVariable(name)) {
            localeChanged = true;
            setVariable(loaderEnv, name, value);
        }
    }
    std::wstring envBlock = environmentBlock(env);
    std::wstring commandLine = result.commandLine;

    Started started = localeChanged
                          ? startThroughLoader(exe, commandLine, envBlock, options.workDir, outPath, errPath, runDir,
                                               loaderEnv)
                          : startDirect(exe, commandLine, envBlock, options.workDir, outPath, errPath);
    result.pid = started.pid;

    std::exception_ptr callbackError;
    std::thread callback;
    if (options.whileRunning) {
        DWORD pid = started.pid;
        const auto& fn = options.whileRunning;
        callback = std::thread([&fn, pid, &callbackError] {
            try {
                fn(pid);
            } catch (...) {
                callbackError = std::current_exception();
            }
        });
    }

    if (WaitForSingleObject(started.process.get(), options.timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        killTree(started.pid, started.process.get());
    }
    DWORD code = 0;
    if (GetExitCodeProcess(started.process.get(), &code)) result.exitCode = static_cast<int>(code);
    if (callback.joinable()) callback.join();

    result.out = readIfPresent(outPath);
    result.err = readIfPresent(errPath);
    collectLogs(result);
    if (callbackError) std::rethrow_exception(callbackError);
    return result;
}

}  // namespace harness
