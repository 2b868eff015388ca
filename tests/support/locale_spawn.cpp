// harness_locale_spawn <control-dir>: started by runProgram through the Wine loader so that it
// (and so the program it starts) runs in the Unix locale the harness chose. Starts the program
// described in <control-dir>\cmd with the environment block in <control-dir>\env, suspended;
// writes its process id to <control-dir>\pid (or a reason to <control-dir>\error); lets it run
// once the harness signals that it holds a handle to it (or kills it after 30 s without word).
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

bool readAll(const std::wstring& path, std::vector<char>& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.insert(data.end(), buf, buf + got);
    CloseHandle(h);
    return true;
}

// Written under another name and renamed: the harness never sees a partial file.
void report(const std::wstring& dir, const wchar_t* name, const std::string& text) {
    std::wstring temp = dir + L"\\" + name + L".tmp";
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
    MoveFileExW(temp.c_str(), (dir + L"\\" + name).c_str(), MOVEFILE_REPLACE_EXISTING);
}

HANDLE inheritable(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int run() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) return 2;
    std::wstring dir = argv[1];

    std::vector<char> cmd, env;
    if (!readAll(dir + L"\\cmd", cmd) || !readAll(dir + L"\\env", env)) {
        report(dir, L"error", "cannot read the control files: " + std::to_string(GetLastError()));
        return 3;
    }
    std::vector<std::wstring> fields;
    {
        std::wstring all(reinterpret_cast<const wchar_t*>(cmd.data()), cmd.size() / sizeof(wchar_t));
        size_t start = 0;
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i] == L'\0') {
                fields.push_back(all.substr(start, i - start));
                start = i + 1;
            }
        }
    }
    if (fields.size() < 6) {
        report(dir, L"error", "malformed control file");
        return 3;
    }
    const std::wstring& exe = fields[0];
    std::wstring commandLine = fields[1];
    const std::wstring& workDir = fields[2];

    HANDLE in = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = inheritable(fields[3], GENERIC_WRITE, OPEN_ALWAYS);
    HANDLE err = inheritable(fields[4], GENERIC_WRITE, OPEN_ALWAYS);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, env.data(),
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
        report(dir, L"error", "CreateProcessW failed with error " + std::to_string(GetLastError()));
        return 4;
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);

    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, fields[5].c_str());
    report(dir, L"pid", std::to_string(pi.dwProcessId));
    if (go != nullptr && WaitForSingleObject(go, 30000) == WAIT_OBJECT_0) {
        ResumeThread(pi.hThread);
    } else {
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

}  // namespace

int main() { return run(); }
