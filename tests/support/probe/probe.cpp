// A small program the harness self-test starts to check what the harness does to a child:
// command line, environment, standard handles, exit codes, time-outs, dialogs, locale.
// Built twice: harness_probe (console) and harness_probe_gui (GUI subsystem).
//
// Arguments are actions, run left to right; anything else is ignored (and shown by
// --print-args). Every output line is UTF-8.
//   --print-args               cmdline=<raw command line>, argc=<n>, arg[i]=<argument> (argv[0] omitted)
//   --out TEXT / --err TEXT    TEXT and a newline to stdout / stderr
//   --env NAME                 env NAME=<value> or env NAME unset
//   --env-block                every variable, one per line, as found in the environment block
//   --locale                   code pages and languages the process sees
//   --cwd                      cwd=<current directory>
//   --temp                     temp=<GetTempPathW>
//   --write-temp NAME TEXT     writes BOM + TEXT (UTF-8) to %TEMP%\NAME
//   --write-temp-raw NAME TEXT writes TEXT (UTF-8, no BOM) to %TEMP%\NAME
//   --msgbox CAPTION TEXT TYPE MessageBoxW(CAPTION, TEXT, TYPE), then exits with its result
//   --sleep MS / --sleep-forever
//   --spawn-sleeper            starts a copy of itself that sleeps forever, prints child=<pid>
//   --exit N                   exits with N at once
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <shellapi.h>
#include <string>

namespace {

std::string utf8(const std::wstring& s) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

void write(DWORD which, const std::wstring& line) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    std::string bytes = utf8(line) + "\n";
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void out(const std::wstring& line) { write(STD_OUTPUT_HANDLE, line); }

std::wstring hex4(unsigned v) {
    wchar_t buf[16];
    swprintf(buf, 16, L"0x%04x", v);
    return buf;
}

void writeTemp(const std::wstring& name, const std::wstring& text, bool bom) {
    wchar_t dir[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, dir);
    if (n == 0) return;
    std::wstring path = std::wstring(dir, n) + name;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::string bytes = (bom ? std::string("\xEF\xBB\xBF") : std::string()) + utf8(text);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

int run() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) return 120;
    auto arg = [&](int i) { return i < argc ? std::wstring(argv[i]) : std::wstring(); };
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--print-args") {
            out(L"cmdline=" + std::wstring(GetCommandLineW()));
            out(L"argc=" + std::to_wstring(argc - 1));
            for (int j = 1; j < argc; ++j) out(L"arg[" + std::to_wstring(j) + L"]=" + argv[j]);
        } else if (a == L"--out") {
            out(arg(++i));
        } else if (a == L"--err") {
            write(STD_ERROR_HANDLE, arg(++i));
        } else if (a == L"--env") {
            std::wstring name = arg(++i);
            DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
            if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                out(L"env " + name + L" unset");
            } else {
                std::wstring value(n, L'\0');
                n = GetEnvironmentVariableW(name.c_str(), &value[0], n);
                value.resize(n);
                out(L"env " + name + L"=" + value);
            }
        } else if (a == L"--env-block") {
            LPWCH block = GetEnvironmentStringsW();
            for (const wchar_t* p = block; *p; p += wcslen(p) + 1) out(p);
            FreeEnvironmentStringsW(block);
        } else if (a == L"--locale") {
            out(L"acp=" + std::to_wstring(GetACP()) + L" oemcp=" + std::to_wstring(GetOEMCP()) +
                L" uilang=" + hex4(GetUserDefaultUILanguage()) + L" userlcid=" + hex4(GetUserDefaultLCID()) +
                L" systemlcid=" + hex4(GetSystemDefaultLCID()) + L" threadlcid=" + hex4(GetThreadLocale()));
        } else if (a == L"--cwd") {
            wchar_t buf[MAX_PATH * 2];
            DWORD n = GetCurrentDirectoryW(MAX_PATH * 2, buf);
            out(L"cwd=" + std::wstring(buf, n));
        } else if (a == L"--temp") {
            wchar_t buf[MAX_PATH + 1];
            DWORD n = GetTempPathW(MAX_PATH + 1, buf);
            out(L"temp=" + std::wstring(buf, n));
        } else if (a == L"--write-temp" || a == L"--write-temp-raw") {
            std::wstring name = arg(++i);
            std::wstring text = arg(++i);
            writeTemp(name, text, a == L"--write-temp");
        } else if (a == L"--msgbox") {
            std::wstring caption = arg(++i);
            std::wstring text = arg(++i);
            UINT type = static_cast<UINT>(_wtoi(arg(++i).c_str()));
            int result = MessageBoxW(nullptr, text.c_str(), caption.c_str(), type);
            out(L"msgbox=" + std::to_wstring(result));
            return result;
        } else if (a == L"--sleep") {
            Sleep(static_cast<DWORD>(_wtoi(arg(++i).c_str())));
        } else if (a == L"--sleep-forever") {
            for (;;) Sleep(1000);
        } else if (a == L"--spawn-sleeper") {
            wchar_t self[MAX_PATH * 2];
            GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
            std::wstring cmd = L"\"" + std::wstring(self) + L"\" --sleep-forever";
            STARTUPINFOW si{};
            si.cb = sizeof si;
            PROCESS_INFORMATION pi{};
            if (CreateProcessW(self, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
                out(L"child=" + std::to_wstring(pi.dwProcessId));
                CloseHandle(pi.hThread);
                CloseHandle(pi.hProcess);
            } else {
                out(L"child=failed " + std::to_wstring(GetLastError()));
            }
        } else if (a == L"--exit") {
            return _wtoi(arg(++i).c_str());
        }
    }
    return 0;
}

}  // namespace

// MinGW's start-up code calls main() for both subsystems.
int main() { return run(); }
