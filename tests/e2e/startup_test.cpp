// Start-up of real setup programs under Wine: special arguments, switches,
// run modes, the log and its keep rules, "-temp", the working directory.
#include <windows.h>
#include <tlhelp32.h>

#include <set>

#include "e2e_common.h"

using e2e::baseDescription;
using e2e::hasLine;
using e2e::hasLineStartingWith;
using e2e::keepLog;

namespace {

class Startup : public ::testing::Test {
protected:
    void SetUp() override { e2e::makeSetup(setup, baseDescription()); }

    harness::RunResult run(const harness::RunOptions& options) {
        return harness::runProgram(setup.exe, options);
    }

    e2e::SetupProgram setup;
};

TEST_F(Startup, QuietRunLeavesNoLog) {
    harness::RunOptions o;
    o.args = {L"-q"};
    auto r = run(o);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.logFiles.empty()) << harness::toUtf8(r.logFiles.front());
}

TEST_F(Startup, LogFormatAndStartSequence) {
    auto r = run(keepLog({L"-q"}));
    ASSERT_EQ(r.exitCode, 0);
    ASSERT_EQ(r.logFiles.size(), 1u);
    EXPECT_TRUE(r.logHasBom);
    auto raw = harness::readFileBytes(r.logFiles[0]);
    std::string bytes(raw.begin(), raw.end());
    // CRLF everywhere, no bare line feeds.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
    }
    EXPECT_TRUE(harness::fileExists(r.tempDir + L"\\cvl_nlog_1.log"));

    auto all = e2e::lines(r.log);
    ASSERT_GE(all.size(), 3u);
    const std::string started = "Started executable " + harness::toUtf8(setup.exe) + " at ";
    EXPECT_EQ(all[0].compare(0, started.size(), started), 0) << all[0];
    // ctime's own line feed leaves an empty second line.
    EXPECT_EQ(all[1], "");
    EXPECT_EQ(all[2], "restrict DLL directories");

    const char* order[] = {"restrict DLL directories", "init file name", "number of sections:",
                           "size of optional headers:", "resSectionTableStart:", "rawDataSize:",
                           "sun.locale.formatasdefault is false", "language/country is en_US",
                           "working directory unchanged", "Init done", "Quiet installer."};
    int previous = -1;
    for (const char* prefix : order) {
        int at = -1;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i].rfind(prefix, 0) == 0) {
                at = static_cast<int>(i);
                break;
            }
        }
        ASSERT_GT(at, previous) << prefix << "\n" << r.log;
        previous = at;
    }
}

TEST_F(Startup, LogKeepRules) {
    const struct {
        const wchar_t* name;
        const wchar_t* value;
        bool kept;
    } cases[] = {
        {L"TARKO_LOG", L"yes", true},  {L"CORVALINE_LOG", L"yes", true}, {L"TARKO_LOG", L"YES", false},
        {L"TARKO_LOG", L"yes ", false}, {L"CORVALINE_LOG", L"1", false},
    };
    for (const auto& c : cases) {
        harness::RunOptions o;
        o.args = {L"-q"};
        o.env[c.name] = std::wstring(c.value);
        auto r = run(o);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(!r.logFiles.empty(), c.kept) << harness::toUtf8(c.name) << "=" << harness::toUtf8(c.value);
    }
}

TEST_F(Startup, LogNumbering) {
    harness::TempDir temp(L"lognum");
    harness::writeFileUtf8(temp.file(L"cvl_nlog_1.log"), "old one");
    harness::writeFileUtf8(temp.file(L"cvl_nlog_2.log"), "old two");
    auto o = keepLog({L"-q"});
    o.tempDir = temp.path();
    auto r = run(o);
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(harness::readFileUtf8(temp.file(L"cvl_nlog_1.log")), "old one");
    EXPECT_EQ(harness::readFileUtf8(temp.file(L"cvl_nlog_2.log")), "old two");
    EXPECT_EQ(harness::readFileUtf8(temp.file(L"cvl_nlog_3.log")).rfind("Started executable", 0), 0u);
}

TEST_F(Startup, LogNumberThousandIsReused) {
    harness::TempDir temp(L"lognum");
    for (int n = 1; n <= 1000; ++n) {
        harness::writeFileUtf8(temp.file(L"cvl_nlog_" + std::to_wstring(n) + L".log"), "old");
    }
    auto o = keepLog({L"-q"});
    o.tempDir = temp.path();
    auto r = run(o);
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(harness::readFileUtf8(temp.file(L"cvl_nlog_999.log")), "old");
    EXPECT_EQ(harness::readFileUtf8(temp.file(L"cvl_nlog_1000.log")).rfind("Started executable", 0), 0u);
    EXPECT_FALSE(harness::fileExists(temp.file(L"cvl_nlog_1001.log")));
}

TEST_F(Startup, SpecialFirstArguments) {
    const struct {
        const wchar_t* tail;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    } cases[] = {
        // Only the exact tail is a reboot request.
        {L"__cvl_reboot x -q", {"Init done", "Quiet installer."}, {}},
        {L"__cvl_lang_restart -x",
         {"language restart", "Quiet installer."},
         {"working directory unchanged"}},
        {L"__cvl_lang_restartXYZ", {"language restart", "Quiet installer."}, {}},
        {L"__cvl_extract_and_exit -q", {"extract and exit mode", "Init done"}, {"language restart"}},
        // Without an operand the deletion request is ignored.
        {L"__cvl_windel", {"Init done", "progress dialog requested"}, {}},
        {L"-q __cvl_lang_restart", {"Quiet installer."}, {"language restart"}},
    };
    for (const auto& c : cases) {
        auto o = keepLog();
        o.rawTail = std::wstring(c.tail);
        auto r = run(o);
        EXPECT_EQ(r.exitCode, 0) << harness::toUtf8(c.tail);
        for (const auto& line : c.present) EXPECT_TRUE(hasLine(r.log, line)) << harness::toUtf8(c.tail) << ": " << line << "\n" << r.log;
        for (const auto& line : c.absent) EXPECT_FALSE(hasLine(r.log, line)) << harness::toUtf8(c.tail) << ": " << line;
    }
}

TEST_F(Startup, DeferredDeletionRunsBeforeTheConfiguration) {
    // No block at all: the configuration is never read in this mode.
    e2e::SetupProgram bare;
    e2e::makeRawSetup(bare, {});
    auto o = keepLog();
    o.rawTail = std::wstring(L"__cvl_windel c:\\instructions.txt");
    auto r = harness::runProgram(bare.exe, o);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(hasLine(r.log, "deferred deletion requested c:\\instructions.txt 0")) << r.log;
    EXPECT_FALSE(hasLineStartingWith(r.log, "number of sections"));
}

struct ModeCase {
    const char* name;
    std::vector<std::wstring> args;
    std::vector<std::pair<std::int32_t, std::string>> settings;
    std::string stub;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

TEST(RunModes, SwitchesChooseTheMode) {
    const ModeCase cases[] = {
        {"quiet", {L"-q"}, {}, "setup64", {"Quiet installer."}, {"register dialog class 1"}},
        {"switches are case-sensitive", {L"-Q", L"-NOCHECK"}, {}, "setup64",
         {"register dialog class 1", "progress dialog requested"}, {"Quiet installer."}},
        {"quiet with splash switch shows the splash", {L"-q", L"-splash"}, {{108, "1"}}, "setup64",
         {"Showing splash screen.", "Starting splash screen thread", "bootstrap requested (no dialog)"},
         {"Quiet installer."}},
        {"quiet with splash switch, no splash configured", {L"-splash", L"-q"}, {}, "setup64",
         {"progress dialog requested"}, {"Quiet installer."}},
        {"splash drawn by Java", {}, {{108, "1"}, {10123, "1"}}, "setup64",
         {"progress dialog requested"}, {"Showing splash screen."}},
        {"no progress dialog", {}, {{155, "1"}}, "setup64",
         {"register dialog class 1", "bootstrap requested (no dialog)"}, {"progress dialog requested"}},
        {"nosplash build logs the mode but shows nothing", {}, {{108, "1"}}, "setup64-nosplash",
         {"Showing splash screen.", "bootstrap requested (no dialog)"},
         {"Starting splash screen thread"}},
        {"console switch with quiet mode", {L"-console", L"-q"}, {}, "setup64", {"Quiet installer."}, {}},
        {"-c is quiet mode with a console", {L"-c"}, {}, "setup64", {"Quiet installer."}, {}},
        {"unknown arguments are ignored", {L"--what", L"-manual", L"/manual", L"-nocheck", L"-q"}, {},
         "setup64", {"Quiet installer."}, {}},
    };
    for (const auto& c : cases) {
        e2e::SetupProgram setup;
        auto d = baseDescription();
        d.settings.insert(d.settings.end(), c.settings.begin(), c.settings.end());
        e2e::makeSetup(setup, d, c.stub);
        auto r = harness::runProgram(setup.exe, keepLog(c.args));
        EXPECT_EQ(r.exitCode, 0) << c.name;
        for (const auto& line : c.present) EXPECT_TRUE(hasLine(r.log, line)) << c.name << ": " << line << "\n" << r.log;
        for (const auto& line : c.absent) EXPECT_FALSE(hasLine(r.log, line)) << c.name << ": " << line;
    }
}

// Odd command lines end in a normal start, never a crash or a hang.
TEST_F(Startup, HostileCommandLines) {
    std::wstring many;
    for (int i = 0; i < 3000; ++i) many += L"-x ";
    const std::wstring tails[] = {
        L"\"unterminated -q",
        L"'single \"mixed -q",
        L"-q " + std::wstring(30000, L'a'),
        many + L"-q",
        L"-q -temp " + std::wstring(9000, L'd'),
        L"-q -temp c:\\" + std::wstring(300, L'n') + L"\\x",
        L"-q \u65E5\u672C \u0436 -temp \u0436",
        L"\"\" '' \"\"\"\" -q",
        L"-create-cvl-log",  // alone: the offer appears; answered below
    };
    for (const auto& tail : tails) {
        auto o = keepLog();
        o.rawTail = tail;
        e2e::SeenDialog seen;
        if (tail == L"-create-cvl-log") o.whileRunning = e2e::answerDialog(seen, L"No");
        auto r = run(o);
        EXPECT_FALSE(r.timedOut) << tail.size();
        EXPECT_EQ(r.exitCode, 0) << harness::toUtf8(tail.substr(0, 60));
        EXPECT_TRUE(hasLine(r.log, "Init done")) << harness::toUtf8(tail.substr(0, 60)) << "\n" << r.log;
    }
}

TEST_F(Startup, ManualTempDirectory) {
    harness::TempDir manual(L"manual");
    const std::string dir = harness::toUtf8(manual.path());
    {
        auto r = run(keepLog({L"-temp", manual.path(), L"-q"}));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(hasLine(r.log, "Using manual temp dir " + dir + " (" + dir + ")")) << r.log;
    }
    {
        auto r = run(keepLog({L"/temp", manual.path() + L"\\missing", L"-q"}));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(hasLineStartingWith(r.log, "Manual temp dir not usable " + dir + "\\missing")) << r.log;
        EXPECT_TRUE(hasLine(r.log, "Quiet installer."));
    }
    {
        // As the last argument, or before an empty one, the switch is dropped.
        auto r = run(keepLog({L"-q", L"-temp"}));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_FALSE(hasLineStartingWith(r.log, "Using manual temp dir"));
        EXPECT_FALSE(hasLineStartingWith(r.log, "Manual temp dir not usable"));
        r = run(keepLog({L"-temp", L"", L"-q"}));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_FALSE(hasLineStartingWith(r.log, "Manual temp dir not usable"));
        EXPECT_TRUE(hasLine(r.log, "Quiet installer."));
    }
    {
        // A directory whose name the ANSI code page cannot spell is refused.
        std::wstring odd = manual.file(L"\u0436\u0437");
        ASSERT_TRUE(CreateDirectoryW(odd.c_str(), nullptr));
        auto r = run(keepLog({L"-temp", odd, L"-q"}));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(hasLineStartingWith(r.log, "Manual temp dir not usable " + harness::toUtf8(odd))) << r.log;
    }
    {
        // A file is not a directory.
        harness::writeFileUtf8(manual.file(L"plain"), "x");
        auto r = run(keepLog({L"-temp", manual.file(L"plain"), L"-q"}));
        EXPECT_TRUE(hasLineStartingWith(r.log, "Manual temp dir not usable")) << r.log;
    }
}

TEST(WorkingDirectory, ExpandedAndResolved) {
    const struct {
        const char* value;
        const wchar_t* relative;  // expected below the setup's directory; null: see absolute
        const char* absolute;
    } cases[] = {
        {"${launcher:sys.launcherDirectory}work", L"work", nullptr},
        {"sub\\..\\rel", L"rel", nullptr},
        // The extraction directory does not exist yet: its variable is empty.
        {"${launcher:sys.launcherTempDirectory}x", L"x", nullptr},
        {"%TARKO_EXEDIR%\\\\a\\\\b", L"a\\b", nullptr},
        {"${E2E_WORKDIR}", nullptr, "C:\\Some\\Where"},
    };
    for (const auto& c : cases) {
        e2e::SetupProgram setup;
        auto d = baseDescription();
        d.settings.push_back({146, c.value});
        e2e::makeSetup(setup, d);
        auto o = keepLog({L"-q"});
        o.env[L"E2E_WORKDIR"] = std::wstring(L"C:\\Some\\Where");
        auto r = harness::runProgram(setup.exe, o);
        EXPECT_EQ(r.exitCode, 0);
        std::string expected = c.relative ? harness::toUtf8(setup.dir.path() + L"\\" + c.relative) : c.absolute;
        bool found = false;
        for (const auto& line : e2e::lines(r.log)) {
            if (_stricmp(line.c_str(), ("change working directory to " + expected).c_str()) == 0) found = true;
        }
        EXPECT_TRUE(found) << c.value << " -> " << expected << "\n" << r.log;
    }
}

TEST(WorkingDirectory, OverlongValuesAreHarmless) {
    for (std::size_t length : {300u, 5990u, 7000u}) {
        e2e::SetupProgram setup;
        auto d = baseDescription();
        d.settings.push_back({146, std::string(length, 'w')});
        e2e::makeSetup(setup, d);
        auto r = harness::runProgram(setup.exe, keepLog({L"-q"}));
        EXPECT_EQ(r.exitCode, 0) << length;
        EXPECT_TRUE(hasLine(r.log, "Init done")) << length;
        EXPECT_TRUE(hasLineStartingWith(r.log, "change working directory to ")) << length;
    }
}

TEST(LogSwitch, OffersExplorerAndKeepsTheLog) {
    const struct {
        const char* flavour;
        const wchar_t* caption;
    } cases[] = {{"i", L"corvaline"}, {"e", L"tarko"}, {"x", L"corvaline"}, {"", L"corvaline"}};
    for (const auto& c : cases) {
        e2e::SetupProgram setup;
        auto d = baseDescription();
        d.settings = {{107, "1"}, {2001, c.flavour}};
        e2e::makeSetup(setup, d);
        harness::RunOptions o;
        o.args = {L"-create-cvl-log", L"-q"};
        e2e::SeenDialog seen;
        o.whileRunning = e2e::answerDialog(seen, L"No");
        auto r = harness::runProgram(setup.exe, o);
        EXPECT_EQ(r.exitCode, 0) << c.flavour;
        ASSERT_TRUE(seen.seen) << c.flavour;
        EXPECT_EQ(seen.caption, c.caption);
        ASSERT_EQ(r.logFiles.size(), 1u);
        std::wstring expected = L"The following log file will be created:\n\n" + r.logFiles[0] +
                                L"\n\nDo you want to open an Explorer window?";
        EXPECT_EQ(_wcsicmp(seen.text.c_str(), expected.c_str()), 0) << harness::toUtf8(seen.text);
        EXPECT_EQ(seen.buttons, (std::vector<std::wstring>{L"Yes", L"No"}));
        // The switch itself is not a run-mode switch; "-q" still applies.
        EXPECT_TRUE(hasLine(r.log, "Quiet installer."));
    }
}

TEST(LogSwitch, OnlyTheFirstPositionCounts) {
    e2e::SetupProgram setup;
    e2e::makeSetup(setup, baseDescription());
    harness::RunOptions o;
    o.args = {L"-q", L"/create-tko-log"};
    auto r = harness::runProgram(setup.exe, o);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.logFiles.empty());
    EXPECT_FALSE(r.timedOut);
}

}  // namespace

namespace {

std::set<DWORD> explorerProcesses() {
    std::set<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"explorer.exe") == 0) pids.insert(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return pids;
}

// Ends file manager processes started after its creation, also when a test
// fails early: they inherit the test's standard handles from Wine and would
// keep CTest waiting for end of file.
struct FileManagerReaper {
    std::set<DWORD> before = explorerProcesses();
    bool reaped = false;

    // Waits up to 10 s for a new one; true when one was ended.
    bool reap() {
        for (int i = 0; i < 100 && !reaped; ++i) {
            for (DWORD pid : explorerProcesses()) {
                if (before.count(pid)) continue;
                if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
                    TerminateProcess(process, 0);
                    WaitForSingleObject(process, 5000);
                    CloseHandle(process);
                    reaped = true;
                }
            }
            if (!reaped) Sleep(100);
        }
        return reaped;
    }
    ~FileManagerReaper() { reap(); }
};

TEST(LogSwitch, YesStartsTheFileManagerOnTheLog) {
    e2e::SetupProgram setup;
    e2e::makeSetup(setup, baseDescription());
    FileManagerReaper reaper;
    harness::RunOptions o;
    o.args = {L"-create-tko-log", L"-q"};
    e2e::SeenDialog seen;
    o.whileRunning = e2e::answerDialog(seen, L"Yes");
    auto r = harness::runProgram(setup.exe, o);
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_TRUE(seen.seen);
    ASSERT_EQ(r.logFiles.size(), 1u);
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    wchar_t shortLog[MAX_PATH];
    GetShortPathNameW(r.logFiles[0].c_str(), shortLog, MAX_PATH);
    std::string expected = "calling " + harness::toUtf8(windows) + "\\explorer.exe /select," + harness::toUtf8(shortLog);
    bool found = false;
    for (const auto& line : e2e::lines(r.log)) found = found || _stricmp(line.c_str(), expected.c_str()) == 0;
    EXPECT_TRUE(found) << expected << "\n" << r.log;
    EXPECT_FALSE(hasLineStartingWith(r.log, "could not open explorer window"));
    EXPECT_TRUE(reaper.reap()) << "no file manager process was started";
}

}  // namespace
