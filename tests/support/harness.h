// Test harness for programs run under Wine: builds setup programs, runs them with a controlled
// command line, environment and temp directory, drives their dialogs and sets up registry state.
//
// Every wait is bounded. Failures to set something up throw std::runtime_error with a readable
// message (gtest reports an escaped exception as a test failure).
//
// The header includes no Windows header: window handles are void*, registry roots are enums.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "setup_builder.h"

namespace harness {

// ---------------------------------------------------------------------------------------------
// Strings, files, paths

std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);

std::vector<std::uint8_t> readFileBytes(const std::wstring& path);  // throws when unreadable
// The file's bytes as UTF-8 text; a leading UTF-8 byte order mark is dropped.
std::string readFileUtf8(const std::wstring& path);
void writeFileBytes(const std::wstring& path, const std::vector<std::uint8_t>& data);  // throws
void writeFileUtf8(const std::wstring& path, const std::string& text);                // no BOM
bool fileExists(const std::wstring& path);
bool directoryExists(const std::wstring& path);
// Deletes a directory tree; true when nothing is left.
bool removeTree(const std::wstring& path);

// "/a/b" -> "Z:\a\b" (Wine maps the Unix root to Z:); anything else is returned unchanged.
std::wstring windowsPath(const std::string& path);

std::wstring buildDir();   // the CMake build tree
std::wstring sourceDir();  // the project's source tree (test data)
// Full path of a built stub: stubPath("setup64") -> ...\stubs\setup64.exe.
std::wstring stubPath(const std::string& name);

// A fresh, empty directory under the Windows temp directory, deleted with everything in it on
// destruction (kept when the environment variable HARNESS_KEEP_TEMP is set, for debugging).
class TempDir {
public:
    explicit TempDir(const std::wstring& prefix = L"ht");
    ~TempDir();
    TempDir(TempDir&& other) noexcept;
    TempDir& operator=(TempDir&&) = delete;
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Reads the stub (a name for stubPath(), or a path), appends the description's block and payload
// and writes the result to outPath (through a temporary file). Returns outPath.
std::wstring buildSetup(const std::string& stub, const mksetup::SetupDescription& description,
                        const std::wstring& outPath);

// ---------------------------------------------------------------------------------------------
// Running programs

struct RunOptions {
    // Joined by single spaces; an argument that is empty or contains a space is wrapped in
    // double quotes (in single quotes when it contains a double quote). No escaping: the stub's
    // own splitter has none.
    std::vector<std::wstring> args;
    // When set: the exact text after the quoted program path (and its following space); `args`
    // is ignored.
    std::optional<std::wstring> rawTail;
    // Changes to the inherited environment; nullopt removes a variable. Names compare
    // case-insensitively, as on Windows.
    //
    // Wine takes a process's code pages and UI language from the Unix locale, which a Windows
    // parent cannot pass through the environment block. So when LANG, LC_ALL, LC_CTYPE or
    // LC_MESSAGES is changed here, the program is started through the Wine loader with those
    // Unix variables (via the harness_locale_spawn helper); it still gets exactly this command
    // line and environment block. E.g. LC_ALL=ja_JP.UTF-8 gives code page 932 and UI
    // language 0x0411. Set LC_ALL: it wins over LANG, and run-in-wine.sh sets both.
    std::map<std::wstring, std::optional<std::wstring>> env;
    std::wstring workDir;  // empty: the harness's current directory
    // Non-empty: TMP and TEMP are set to it. Empty: a fresh directory per run (kept until the test
    // program exits), reported in RunResult::tempDir. An explicit env entry wins over both.
    std::wstring tempDir;
    unsigned timeoutMs = 60000;
    // Run on a separate thread once the program has started; runProgram returns after it
    // has returned, so it must be bounded itself (the harness waits below all are).
    std::function<void(unsigned long pid)> whileRunning;
};

struct RunResult {
    int exitCode = -1;      // all 32 bits (a Unix parent would see only the low byte); 1 after a time-out
    bool timedOut = false;  // the program (and what it started) was killed after timeoutMs
    std::string out;        // stdout bytes
    std::string err;        // stderr bytes
    std::wstring tempDir;   // TMP/TEMP given to the program
    std::vector<std::wstring> logFiles;  // full paths of cvl_nlog*.log in tempDir, sorted by name
    std::string log;        // the newest of them (last write time), UTF-8 BOM stripped; "" if none
    bool logHasBom = false;
    unsigned long pid = 0;
    std::wstring commandLine;  // exactly as passed to CreateProcessW
};

// The command tail RunOptions::args produce (exposed for tests of the quoting).
std::wstring joinArgs(const std::vector<std::wstring>& args);

// Starts exe with the command line "\"exe\" " + tail, stdin on NUL and stdout/stderr redirected
// to files, waits at most timeoutMs (then kills the program and everything it started) and
// returns what happened. Throws std::runtime_error when the program cannot be started.
RunResult runProgram(const std::wstring& exe, const RunOptions& options = {});

// ---------------------------------------------------------------------------------------------
// Windows and dialogs (there is no window manager under Xvfb: no title bars, no focus rules)

struct WindowInfo {
    void* hwnd = nullptr;
    unsigned long pid = 0;
    std::wstring className;
    std::wstring caption;
    bool visible = false;
};

struct ControlInfo {
    void* hwnd = nullptr;
    int id = 0;
    std::wstring className;
    std::wstring text;  // as the control reports it (buttons keep their '&')
    bool visible = false;
    bool enabled = false;
};

struct DialogInfo {
    void* hwnd = nullptr;
    std::wstring className;
    std::wstring caption;
    // A message box's text (the static control with id 65535), else all non-empty static texts
    // joined with "\n".
    std::wstring text;
    std::vector<std::wstring> buttons;  // visible buttons' labels without '&', in control order
    std::vector<int> buttonIds;         // parallel to buttons
    std::vector<ControlInfo> controls;  // every child control
};

// Top-level windows of a process (all processes when pid is 0).
std::vector<WindowInfo> topLevelWindows(unsigned long pid, bool visibleOnly = true);
std::optional<WindowInfo> waitForWindow(unsigned long pid, unsigned timeoutMs,
                                        const std::function<bool(const WindowInfo&)>& accept);
// Reads a dialog's caption, texts and controls; nullopt when the window is gone.
std::optional<DialogInfo> readDialog(void* hwnd);
// Polls for a visible top-level "#32770" window of the process (optionally one `accept` likes).
std::optional<DialogInfo> waitForDialog(unsigned long pid, unsigned timeoutMs);
std::optional<DialogInfo> waitForDialog(unsigned long pid, unsigned timeoutMs,
                                        const std::function<bool(const DialogInfo&)>& accept);
// Clicks (BM_CLICK) the visible, enabled button with this label ('&' ignored) or id; false when
// there is none or the dialog does not answer.
bool pressButton(const DialogInfo& dialog, const std::wstring& labelWithoutAmpersand);
bool pressButtonId(const DialogInfo& dialog, int id);
// WM_SETTEXT on the child control with this id.
bool setControlText(const DialogInfo& dialog, int id, const std::wstring& text);
std::wstring windowText(void* hwnd);  // WM_GETTEXT, bounded
bool closeWindow(void* hwnd);         // posts WM_CLOSE
bool waitForWindowGone(void* hwnd, unsigned timeoutMs);
std::wstring stripAmpersands(const std::wstring& label);  // "&Yes" -> "Yes", "&&" -> "&"

// ---------------------------------------------------------------------------------------------
// Registry

enum class RegRoot { CurrentUser, LocalMachine };
enum class RegView { Default, Bits64, Bits32 };  // Default: the test program's own (64-bit)

struct RegValue {
    unsigned long type = 0;  // REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4 ...
    std::vector<std::uint8_t> data;
};

// Creates keys and values for one test and undoes it on destruction: every key it created
// (with whatever was put under it later) is deleted, values it set in keys that already
// existed get their old contents back. Setters throw on failure.
class RegistryFixture {
public:
    RegistryFixture() = default;
    ~RegistryFixture();
    RegistryFixture(const RegistryFixture&) = delete;
    RegistryFixture& operator=(const RegistryFixture&) = delete;

    void createKey(RegRoot root, const std::wstring& path, RegView view = RegView::Default);
    void setValue(RegRoot root, const std::wstring& path, const std::wstring& name,
                  const RegValue& value, RegView view = RegView::Default);
    void setString(RegRoot root, const std::wstring& path, const std::wstring& name,
                   const std::wstring& value, RegView view = RegView::Default);
    void setExpandString(RegRoot root, const std::wstring& path, const std::wstring& name,
                         const std::wstring& value, RegView view = RegView::Default);
    void setMultiString(RegRoot root, const std::wstring& path, const std::wstring& name,
                        const std::vector<std::wstring>& value, RegView view = RegView::Default);
    void setDword(RegRoot root, const std::wstring& path, const std::wstring& name,
                  std::uint32_t value, RegView view = RegView::Default);
    void setQword(RegRoot root, const std::wstring& path, const std::wstring& name,
                  std::uint64_t value, RegView view = RegView::Default);
    // Deletes this key tree at teardown too (for keys the program under test creates).
    void removeOnTeardown(RegRoot root, const std::wstring& path, RegView view = RegView::Default);
    // Undoes everything now (the destructor does it otherwise); true when all of it worked.
    bool cleanup();

    static bool keyExists(RegRoot root, const std::wstring& path, RegView view = RegView::Default);
    static std::optional<RegValue> readValue(RegRoot root, const std::wstring& path,
                                             const std::wstring& name, RegView view = RegView::Default);
    // REG_SZ or REG_EXPAND_SZ (unexpanded), without the terminating null.
    static std::optional<std::wstring> readString(RegRoot root, const std::wstring& path,
                                                  const std::wstring& name, RegView view = RegView::Default);
    static std::optional<std::uint32_t> readDword(RegRoot root, const std::wstring& path,
                                                  const std::wstring& name, RegView view = RegView::Default);
    static std::optional<std::vector<std::wstring>> readMultiString(RegRoot root, const std::wstring& path,
                                                                    const std::wstring& name,
                                                                    RegView view = RegView::Default);
    static std::vector<std::wstring> subKeys(RegRoot root, const std::wstring& path,
                                             RegView view = RegView::Default);
    static std::vector<std::wstring> valueNames(RegRoot root, const std::wstring& path,
                                                RegView view = RegView::Default);
    // Deletes a key tree; true when it is gone (also when it never existed).
    static bool deleteTree(RegRoot root, const std::wstring& path, RegView view = RegView::Default);

private:
    struct KeyRef {
        RegRoot root;
        std::wstring path;
        RegView view;
    };
    struct SavedValue {
        KeyRef key;
        std::wstring name;
        std::optional<RegValue> previous;
    };
    void ensureKey(RegRoot root, const std::wstring& path, RegView view);
    bool createdByUs(RegRoot root, const std::wstring& path, RegView view) const;

    std::vector<KeyRef> createdKeys_;
    std::vector<SavedValue> savedValues_;
};

}  // namespace harness
