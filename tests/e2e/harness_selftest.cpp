// The test harness checked against the probe programs in tests/support/probe: what runProgram
// gives a child and reads back, time-outs, dialogs, registry fixtures, temporary directories.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using harness::RegRoot;
using harness::RegView;
using harness::RunOptions;
using harness::RunResult;

std::wstring probe() { return harness::windowsPath(HARNESS_PROBE); }
std::wstring probeGui() { return harness::windowsPath(HARNESS_PROBE_GUI); }

RunOptions withArgs(std::vector<std::wstring> args) {
    RunOptions o;
    o.args = std::move(args);
    o.timeoutMs = 30000;
    return o;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

bool hasLine(const std::string& text, const std::string& wanted) {
    auto all = lines(text);
    return std::find(all.begin(), all.end(), wanted) != all.end();
}

std::string valueAfter(const std::string& text, const std::string& prefix) {
    for (const std::string& l : lines(text)) {
        if (l.compare(0, prefix.size(), prefix) == 0) return l.substr(prefix.size());
    }
    return "<missing " + prefix + ">";
}

std::string uniqueName(const char* base) {
    static std::atomic<unsigned> n{0};
    return std::string(base) + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(n++);
}

bool processAlive(DWORD pid) {
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (h == nullptr) return false;
    DWORD code = 0;
    bool alive = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
    CloseHandle(h);
    return alive;
}

// ---------------------------------------------------------------------------------------------
// Exit codes and output

TEST(RunProgram, ExitCodeStdoutAndStderr) {
    RunResult r = harness::runProgram(probe(), withArgs({L"--out", L"hello", L"--err", L"oops", L"--exit", L"42"}));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 42);
    EXPECT_EQ(r.out, "hello\n");
    EXPECT_EQ(r.err, "oops\n");
    EXPECT_NE(r.pid, 0u);
}

TEST(RunProgram, FullExitCodeReachesTheParent) {
    // Only a Unix parent sees the low byte; a Windows parent gets all 32 bits.
    EXPECT_EQ(harness::runProgram(probe(), withArgs({L"--exit", L"300"})).exitCode, 300);
    EXPECT_EQ(harness::runProgram(probe(), withArgs({L"--exit", L"-2"})).exitCode, -2);
    EXPECT_EQ(harness::runProgram(probe(), withArgs({})).exitCode, 0);
}

TEST(RunProgram, GuiProgramOutputIsCaptured) {
    RunResult r = harness::runProgram(probeGui(), withArgs({L"--out", L"gui out", L"--err", L"gui err", L"--exit", L"3"}));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "gui out\n");
    EXPECT_EQ(r.err, "gui err\n");
}

TEST(RunProgram, NonAsciiOutputIsUtf8) {
    RunResult r = harness::runProgram(probe(), withArgs({L"--out", L"gr\u00FC\u00DF \u540D"}));
    EXPECT_EQ(r.out, "gr\xC3\xBC\xC3\x9F \xE5\x90\x8D\n");
}

TEST(RunProgram, MissingProgramThrows) {
    EXPECT_THROW(harness::runProgram(L"Z:\\nonexistent\\nothing.exe", withArgs({})), std::runtime_error);
}

// ---------------------------------------------------------------------------------------------
// Command line

TEST(RunProgram, ArgumentsAreJoinedAndQuoted) {
    RunResult r = harness::runProgram(probe(), withArgs({L"--print-args", L"plain", L"", L"with space", L"x"}));
    std::wstring expected = L"\"" + probe() + L"\" --print-args plain \"\" \"with space\" x";
    EXPECT_EQ(r.commandLine, expected);
    EXPECT_EQ(valueAfter(r.out, "cmdline="), harness::toUtf8(expected));
    EXPECT_EQ(valueAfter(r.out, "argc="), "5");
    EXPECT_TRUE(hasLine(r.out, "arg[2]=plain"));
    EXPECT_TRUE(hasLine(r.out, "arg[3]="));
    EXPECT_TRUE(hasLine(r.out, "arg[4]=with space"));
    EXPECT_TRUE(hasLine(r.out, "arg[5]=x"));
}

TEST(RunProgram, RawTailIsPassedExactly) {
    RunOptions o = withArgs({L"ignored"});
    o.rawTail = L"--print-args  two\tspaces 'single quoted'  ";
    RunResult r = harness::runProgram(probe(), o);
    EXPECT_EQ(valueAfter(r.out, "cmdline="),
              harness::toUtf8(L"\"" + probe() + L"\" --print-args  two\tspaces 'single quoted'  "));
}

TEST(RunProgram, NoArgumentsLeaveATrailingSpace) {
    RunResult r = harness::runProgram(probe(), withArgs({}));
    EXPECT_EQ(r.commandLine, L"\"" + probe() + L"\" ");
}

TEST(JoinArgs, QuotingRules) {
    EXPECT_EQ(harness::joinArgs({}), L"");
    EXPECT_EQ(harness::joinArgs({L"a", L"b"}), L"a b");
    EXPECT_EQ(harness::joinArgs({L""}), L"\"\"");
    EXPECT_EQ(harness::joinArgs({L"a b"}), L"\"a b\"");
    EXPECT_EQ(harness::joinArgs({L"tab\tinside"}), L"tab\tinside");  // the stub splits on spaces only
    EXPECT_EQ(harness::joinArgs({L"say \"hi\""}), L"'say \"hi\"'");
    EXPECT_EQ(harness::joinArgs({L"no\"space"}), L"no\"space");
    EXPECT_THROW(harness::joinArgs({L"both \" and '"}), std::invalid_argument);
}

// ---------------------------------------------------------------------------------------------
// Environment, directories, logs

TEST(RunProgram, EnvironmentOverridesAndRemovals) {
    SetEnvironmentVariableW(L"HARNESS_INHERITED", L"from parent");
    SetEnvironmentVariableW(L"HARNESS_GONE", L"1");
    SetEnvironmentVariableW(L"HARNESS_CASE", L"old");
    RunOptions o = withArgs({L"--env", L"HARNESS_INHERITED", L"--env", L"HARNESS_GONE", L"--env", L"HARNESS_NEW",
                             L"--env", L"HARNESS_CASE", L"--env-block"});
    o.env[L"HARNESS_GONE"] = std::nullopt;
    o.env[L"HARNESS_NEW"] = L"new value \u00E9";
    o.env[L"harness_case"] = L"replaced";
    RunResult r = harness::runProgram(probe(), o);
    SetEnvironmentVariableW(L"HARNESS_INHERITED", nullptr);
    SetEnvironmentVariableW(L"HARNESS_GONE", nullptr);
    SetEnvironmentVariableW(L"HARNESS_CASE", nullptr);

    EXPECT_TRUE(hasLine(r.out, "env HARNESS_INHERITED=from parent")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "env HARNESS_GONE unset"));
    EXPECT_TRUE(hasLine(r.out, "env HARNESS_NEW=new value \xC3\xA9"));
    EXPECT_TRUE(hasLine(r.out, "env HARNESS_CASE=replaced"));
    // One variable per name, and the block sorted as Windows keeps it. Wine takes its own
    // variables (and SystemDrive/SystemRoot) out of a new process's block and appends them
    // again: those are left out of the order check.
    auto appendedByWine = [](const std::string& name) {
        static const char* const names[] = {"WINEDATADIR", "WINEHOMEDIR", "WINECONFIGDIR", "WINEBUILDDIR",
                                            "WINELOADER",  "WINEUSERNAME", "WINEDLLOVERRIDES", "WINEUSERLOCALE",
                                            "WINEUNIXCP",  "SystemDrive",  "SystemRoot"};
        if (name.rfind("WINEDLLDIR", 0) == 0) return true;
        return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return name == n; });
    };
    std::vector<std::wstring> names;
    for (const std::string& l : lines(r.out)) {
        if (l.rfind("env ", 0) == 0 || l.empty()) continue;
        size_t eq = l.find('=', 1);
        if (eq != std::string::npos && !appendedByWine(l.substr(0, eq))) names.push_back(harness::fromUtf8(l.substr(0, eq)));
    }
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::wstring& n) { return _wcsicmp(n.c_str(), L"HARNESS_CASE") == 0; }),
              1);
    for (size_t i = 1; i < names.size(); ++i) {
        EXPECT_NE(CompareStringOrdinal(names[i - 1].c_str(), -1, names[i].c_str(), -1, TRUE), CSTR_GREATER_THAN)
            << harness::toUtf8(names[i - 1]) << " before " << harness::toUtf8(names[i]);
    }
}

TEST(RunProgram, FreshTempDirectoryPerRun) {
    RunResult a = harness::runProgram(probe(), withArgs({L"--temp", L"--env", L"TMP", L"--env", L"TEMP"}));
    RunResult b = harness::runProgram(probe(), withArgs({L"--temp"}));
    ASSERT_FALSE(a.tempDir.empty());
    EXPECT_NE(a.tempDir, b.tempDir);
    EXPECT_TRUE(harness::directoryExists(a.tempDir));
    EXPECT_EQ(valueAfter(a.out, "temp="), harness::toUtf8(a.tempDir + L"\\"));
    EXPECT_TRUE(hasLine(a.out, "env TMP=" + harness::toUtf8(a.tempDir)));
    EXPECT_TRUE(hasLine(a.out, "env TEMP=" + harness::toUtf8(a.tempDir)));
}

TEST(RunProgram, GivenTempAndWorkingDirectories) {
    harness::TempDir temp(L"tmp");
    harness::TempDir work(L"work");
    RunOptions o = withArgs({L"--temp", L"--cwd"});
    o.tempDir = temp.path();
    o.workDir = work.path();
    RunResult r = harness::runProgram(probe(), o);
    EXPECT_EQ(r.tempDir, temp.path());
    EXPECT_EQ(valueAfter(r.out, "temp="), harness::toUtf8(temp.path() + L"\\"));
    EXPECT_EQ(valueAfter(r.out, "cwd="), harness::toUtf8(work.path()));
}

TEST(RunProgram, LogFilesInTheTempDirectory) {
    RunResult r = harness::runProgram(
        probe(), withArgs({L"--write-temp", L"cvl_nlog_a.log", L"first", L"--sleep", L"1100", L"--write-temp",
                           L"cvl_nlog_b.log", L"second \u00E9", L"--write-temp", L"other.log", L"not a log"}));
    ASSERT_EQ(r.logFiles.size(), 2u);
    EXPECT_EQ(r.logFiles[0], r.tempDir + L"\\cvl_nlog_a.log");
    EXPECT_EQ(r.logFiles[1], r.tempDir + L"\\cvl_nlog_b.log");
    EXPECT_EQ(r.log, "second \xC3\xA9");
    EXPECT_TRUE(r.logHasBom);

    RunResult raw = harness::runProgram(probe(), withArgs({L"--write-temp-raw", L"cvl_nlog1.log", L"no bom"}));
    ASSERT_EQ(raw.logFiles.size(), 1u);
    EXPECT_EQ(raw.log, "no bom");
    EXPECT_FALSE(raw.logHasBom);

    RunResult none = harness::runProgram(probe(), withArgs({}));
    EXPECT_TRUE(none.logFiles.empty());
    EXPECT_EQ(none.log, "");
    EXPECT_FALSE(none.logHasBom);
}

// ---------------------------------------------------------------------------------------------
// Locale

TEST(RunProgram, DefaultLocaleIsUsEnglish) {
    RunResult r = harness::runProgram(probe(), withArgs({L"--locale"}));
    EXPECT_EQ(valueAfter(r.out, "acp=").substr(0, 4), "1252") << r.out;
    EXPECT_NE(r.out.find("uilang=0x0409"), std::string::npos) << r.out;
}

TEST(RunProgram, LocaleFromEnvironment) {
    RunOptions o = withArgs({L"--locale", L"--print-args", L"a b", L"", L"--env", L"HARNESS_NEW", L"--env", L"LC_ALL",
                             L"--out", L"\u65E5\u672C", L"--exit", L"7"});
    o.env[L"LANG"] = L"ja_JP.UTF-8";
    o.env[L"LC_ALL"] = L"ja_JP.UTF-8";
    o.env[L"HARNESS_NEW"] = L"set";
    std::atomic<unsigned long> seenPid{0};
    o.whileRunning = [&](unsigned long pid) { seenPid = pid; };
    RunResult r = harness::runProgram(probe(), o);
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_EQ(seenPid.load(), r.pid);
    EXPECT_NE(r.out.find("acp=932 oemcp=932 uilang=0x0411 userlcid=0x0411"), std::string::npos) << r.out;
    // Everything else is as in a direct start.
    EXPECT_EQ(valueAfter(r.out, "cmdline="), harness::toUtf8(r.commandLine));
    EXPECT_TRUE(hasLine(r.out, "arg[3]=a b"));
    EXPECT_TRUE(hasLine(r.out, "arg[4]="));
    EXPECT_TRUE(hasLine(r.out, "env HARNESS_NEW=set"));
    EXPECT_TRUE(hasLine(r.out, "env LC_ALL=ja_JP.UTF-8"));
    EXPECT_TRUE(hasLine(r.out, "\xE6\x97\xA5\xE6\x9C\xAC"));
}

TEST(RunProgram, LocaleRunInTempDirWithNonAsciiName) {
    // Non-ASCII file names need the Unix locale to exist (wine-prefix.sh compiles them).
    harness::TempDir temp(L"t\u00E9\u540D");
    RunOptions o = withArgs({L"--locale", L"--write-temp", L"cvl_nlog_x.log", L"\u65E5"});
    o.tempDir = temp.path();
    o.env[L"LC_ALL"] = L"ja_JP.UTF-8";
    RunResult r = harness::runProgram(probe(), o);
    EXPECT_NE(r.out.find("acp=932"), std::string::npos) << r.out;
    ASSERT_EQ(r.logFiles.size(), 1u);
    EXPECT_EQ(r.log, "\xE6\x97\xA5");
}

// ---------------------------------------------------------------------------------------------
// Time-outs

TEST(RunProgram, TimeoutKillsTheProgramAndWhatItStarted) {
    RunOptions o = withArgs({L"--spawn-sleeper", L"--sleep-forever"});
    o.timeoutMs = 2000;
    ULONGLONG start = GetTickCount64();
    RunResult r = harness::runProgram(probe(), o);
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_TRUE(r.timedOut);
    EXPECT_LT(took, 20000u);
    std::string child = valueAfter(r.out, "child=");
    ASSERT_EQ(child.find_first_not_of("0123456789"), std::string::npos) << r.out;
    DWORD childPid = static_cast<DWORD>(std::stoul(child));
    EXPECT_FALSE(processAlive(r.pid));
    EXPECT_FALSE(processAlive(childPid));
}

TEST(RunProgram, TimeoutInLocaleRun) {
    RunOptions o = withArgs({L"--sleep-forever"});
    o.env[L"LC_ALL"] = L"ja_JP.UTF-8";
    o.timeoutMs = 1500;
    RunResult r = harness::runProgram(probe(), o);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(processAlive(r.pid));
}

TEST(RunProgram, WhileRunningSeesTheRunningProgram) {
    RunOptions o = withArgs({L"--sleep", L"3000"});
    bool wasAlive = false;
    unsigned long seen = 0;
    o.whileRunning = [&](unsigned long pid) {
        seen = pid;
        wasAlive = processAlive(pid);
    };
    RunResult r = harness::runProgram(probe(), o);
    EXPECT_EQ(seen, r.pid);
    EXPECT_TRUE(wasAlive);
    EXPECT_FALSE(r.timedOut);
}

TEST(RunProgram, ExceptionInWhileRunningReachesTheCaller) {
    RunOptions o = withArgs({});
    o.whileRunning = [](unsigned long) { throw std::runtime_error("from the callback"); };
    EXPECT_THROW(harness::runProgram(probe(), o), std::runtime_error);
}

// ---------------------------------------------------------------------------------------------
// Dialogs

TEST(Dialogs, MessageBoxIsReadAndAnswered) {
    std::optional<harness::DialogInfo> seen;
    bool pressed = false;
    bool gone = false;
    RunOptions o = withArgs({L"--msgbox", L"Probe caption", L"Probe text \u00E9", L"3" /* MB_YESNOCANCEL */});
    o.whileRunning = [&](unsigned long pid) {
        seen = harness::waitForDialog(pid, 20000);
        if (!seen) return;
        pressed = harness::pressButton(*seen, L"No");
        gone = harness::waitForWindowGone(seen->hwnd, 10000);
    };
    RunResult r = harness::runProgram(probeGui(), o);
    ASSERT_TRUE(seen.has_value()) << "no dialog appeared";
    EXPECT_EQ(seen->className, L"#32770");
    EXPECT_EQ(seen->caption, L"Probe caption");
    EXPECT_EQ(seen->text, L"Probe text \u00E9");
    EXPECT_EQ(seen->buttons, (std::vector<std::wstring>{L"Yes", L"No", L"Cancel"}));
    EXPECT_EQ(seen->buttonIds, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(gone);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, IDNO);
}

TEST(Dialogs, PressButtonById) {
    bool pressed = false;
    RunOptions o = withArgs({L"--msgbox", L"Ids", L"Press by id", L"1" /* MB_OKCANCEL */});
    o.whileRunning = [&](unsigned long pid) {
        auto d = harness::waitForDialog(pid, 20000);
        if (d) pressed = harness::pressButtonId(*d, IDCANCEL);
    };
    RunResult r = harness::runProgram(probeGui(), o);
    EXPECT_TRUE(pressed);
    EXPECT_EQ(r.exitCode, IDCANCEL);
}

TEST(Dialogs, UnknownButtonIsNotPressed) {
    bool pressedUnknown = true;
    RunOptions o = withArgs({L"--msgbox", L"Unknown", L"text", L"0" /* MB_OK */});
    o.whileRunning = [&](unsigned long pid) {
        auto d = harness::waitForDialog(pid, 20000);
        if (!d) return;
        pressedUnknown = harness::pressButton(*d, L"Nope");
        harness::pressButton(*d, L"OK");
    };
    RunResult r = harness::runProgram(probeGui(), o);
    EXPECT_FALSE(pressedUnknown);
    EXPECT_EQ(r.exitCode, IDOK);
}

TEST(Dialogs, DialogOfALocaleRun) {
    std::optional<harness::DialogInfo> seen;
    RunOptions o = withArgs({L"--locale", L"--msgbox", L"\u65E5\u672C", L"\u30C6\u30B9\u30C8", L"4" /* MB_YESNO */});
    o.env[L"LC_ALL"] = L"ja_JP.UTF-8";
    o.whileRunning = [&](unsigned long pid) {
        seen = harness::waitForDialog(pid, 20000);
        if (seen && !seen->buttonIds.empty()) harness::pressButtonId(*seen, IDYES);
    };
    RunResult r = harness::runProgram(probeGui(), o);
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->caption, L"\u65E5\u672C");
    EXPECT_EQ(seen->text, L"\u30C6\u30B9\u30C8");
    EXPECT_EQ(r.exitCode, IDYES);
    EXPECT_NE(r.out.find("acp=932"), std::string::npos) << r.out;
}

TEST(Dialogs, WaitIsBoundedWhenNoDialogAppears) {
    std::optional<harness::DialogInfo> seen;
    ULONGLONG took = 0;
    RunOptions o = withArgs({L"--sleep", L"3000"});
    o.whileRunning = [&](unsigned long pid) {
        ULONGLONG start = GetTickCount64();
        seen = harness::waitForDialog(pid, 1000);
        took = GetTickCount64() - start;
    };
    harness::runProgram(probeGui(), o);
    EXPECT_FALSE(seen.has_value());
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 5000u);
}

TEST(Dialogs, StripAmpersands) {
    EXPECT_EQ(harness::stripAmpersands(L"&Yes"), L"Yes");
    EXPECT_EQ(harness::stripAmpersands(L"Save && Exit"), L"Save & Exit");
    EXPECT_EQ(harness::stripAmpersands(L"plain"), L"plain");
}

// ---------------------------------------------------------------------------------------------
// Registry

TEST(Registry, FixtureCreatesReadsAndCleansUp) {
    std::wstring base = L"Software\\" + harness::fromUtf8(uniqueName("HarnessSelftest"));
    {
        harness::RegistryFixture reg;
        reg.setString(RegRoot::CurrentUser, base + L"\\A\\B", L"Name", L"value \u00E9");
        reg.setExpandString(RegRoot::CurrentUser, base + L"\\A", L"Expand", L"%TEMP%\\x");
        reg.setDword(RegRoot::CurrentUser, base + L"\\A", L"Count", 0xDEADBEEF);
        reg.setQword(RegRoot::CurrentUser, base + L"\\A", L"Big", 0x0123456789ABCDEFull);
        reg.setMultiString(RegRoot::CurrentUser, base + L"\\A", L"List", {L"one", L"two"});
        reg.createKey(RegRoot::CurrentUser, base + L"\\Empty");

        using F = harness::RegistryFixture;
        EXPECT_EQ(F::readString(RegRoot::CurrentUser, base + L"\\A\\B", L"Name"), L"value \u00E9");
        EXPECT_EQ(F::readString(RegRoot::CurrentUser, base + L"\\A", L"Expand"), L"%TEMP%\\x");
        EXPECT_EQ(F::readDword(RegRoot::CurrentUser, base + L"\\A", L"Count"), 0xDEADBEEFu);
        auto big = F::readValue(RegRoot::CurrentUser, base + L"\\A", L"Big");
        ASSERT_TRUE(big);
        EXPECT_EQ(big->type, static_cast<unsigned long>(REG_QWORD));
        EXPECT_EQ(F::readMultiString(RegRoot::CurrentUser, base + L"\\A", L"List"),
                  (std::vector<std::wstring>{L"one", L"two"}));
        EXPECT_TRUE(F::keyExists(RegRoot::CurrentUser, base + L"\\Empty"));
        auto keys = F::subKeys(RegRoot::CurrentUser, base);
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, (std::vector<std::wstring>{L"A", L"Empty"}));
        EXPECT_EQ(F::valueNames(RegRoot::CurrentUser, base + L"\\A").size(), 4u);
        EXPECT_FALSE(F::readString(RegRoot::CurrentUser, base + L"\\A", L"Missing"));
        EXPECT_FALSE(F::readDword(RegRoot::CurrentUser, base + L"\\A\\B", L"Name"));  // wrong type
    }
    EXPECT_FALSE(harness::RegistryFixture::keyExists(RegRoot::CurrentUser, base));
}

TEST(Registry, ValuesInExistingKeysAreRestored) {
    std::wstring name = harness::fromUtf8(uniqueName("HarnessValue"));
    using F = harness::RegistryFixture;
    {
        // A key that already exists stays; a value set there is removed again.
        harness::RegistryFixture reg;
        reg.setString(RegRoot::CurrentUser, L"Software", name, L"temporary");
        EXPECT_EQ(F::readString(RegRoot::CurrentUser, L"Software", name), L"temporary");
    }
    EXPECT_TRUE(F::keyExists(RegRoot::CurrentUser, L"Software"));
    EXPECT_FALSE(F::readValue(RegRoot::CurrentUser, L"Software", name));

    // An existing value gets its old contents back.
    std::wstring base = L"Software\\" + harness::fromUtf8(uniqueName("HarnessRestore"));
    harness::RegistryFixture outer;
    outer.setString(RegRoot::CurrentUser, base, L"V", L"original");
    {
        harness::RegistryFixture inner;
        inner.setDword(RegRoot::CurrentUser, base, L"V", 5);
        inner.setDword(RegRoot::CurrentUser, base, L"V", 6);
        EXPECT_EQ(F::readDword(RegRoot::CurrentUser, base, L"V"), 6u);
    }
    EXPECT_EQ(F::readString(RegRoot::CurrentUser, base, L"V"), L"original");
    EXPECT_TRUE(outer.cleanup());
    EXPECT_FALSE(F::keyExists(RegRoot::CurrentUser, base));
}

TEST(Registry, ViewsOfLocalMachineAreSeparate) {
    std::wstring base = L"Software\\" + harness::fromUtf8(uniqueName("HarnessView"));
    using F = harness::RegistryFixture;
    {
        harness::RegistryFixture reg;
        reg.setString(RegRoot::LocalMachine, base, L"Bits", L"32", RegView::Bits32);
        EXPECT_EQ(F::readString(RegRoot::LocalMachine, base, L"Bits", RegView::Bits32), L"32");
        EXPECT_FALSE(F::keyExists(RegRoot::LocalMachine, base, RegView::Bits64));
        reg.setString(RegRoot::LocalMachine, base, L"Bits", L"64", RegView::Bits64);
        EXPECT_EQ(F::readString(RegRoot::LocalMachine, base, L"Bits", RegView::Default), L"64");
        EXPECT_EQ(F::readString(RegRoot::LocalMachine, base, L"Bits", RegView::Bits32), L"32");
    }
    EXPECT_FALSE(F::keyExists(RegRoot::LocalMachine, base, RegView::Bits32));
    EXPECT_FALSE(F::keyExists(RegRoot::LocalMachine, base, RegView::Bits64));
}

TEST(Registry, KeysCreatedByTheProgramAreRemovedOnRequest) {
    std::wstring base = L"Software\\" + harness::fromUtf8(uniqueName("HarnessForeign"));
    {
        harness::RegistryFixture reg;
        reg.removeOnTeardown(RegRoot::CurrentUser, base);
        // Stands in for a program under test writing its own keys.
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (base + L"\\Deep\\Deeper").c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    EXPECT_FALSE(harness::RegistryFixture::keyExists(RegRoot::CurrentUser, base));
}

// ---------------------------------------------------------------------------------------------
// Files, paths, temporary directories, building setup programs

TEST(Files, TempDirIsRemovedWithItsContents) {
    std::wstring path;
    {
        harness::TempDir dir(L"sel");
        path = dir.path();
        EXPECT_TRUE(harness::directoryExists(path));
        EXPECT_EQ(dir.file(L"x.txt"), path + L"\\x.txt");
        harness::writeFileUtf8(dir.file(L"x.txt"), "x");
        CreateDirectoryW(dir.file(L"sub").c_str(), nullptr);
        harness::writeFileUtf8(dir.file(L"sub\\y.txt"), "y");
        SetFileAttributesW(dir.file(L"sub\\y.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        harness::TempDir other(L"sel");
        EXPECT_NE(other.path(), path);
    }
    EXPECT_FALSE(harness::directoryExists(path));
}

TEST(Files, ReadAndWrite) {
    harness::TempDir dir;
    harness::writeFileBytes(dir.file(L"b.bin"), {0xEF, 0xBB, 0xBF, 'a', 0, 'b'});
    EXPECT_EQ(harness::readFileBytes(dir.file(L"b.bin")).size(), 6u);
    EXPECT_EQ(harness::readFileUtf8(dir.file(L"b.bin")), std::string("a\0b", 3));
    EXPECT_TRUE(harness::fileExists(dir.file(L"b.bin")));
    EXPECT_FALSE(harness::fileExists(dir.path()));
    EXPECT_THROW(harness::readFileBytes(dir.file(L"missing")), std::runtime_error);
    EXPECT_EQ(harness::toUtf8(L"\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(harness::fromUtf8("\xC3\xA9\xF0\x9F\x98\x80"), L"\u00E9\U0001F600");
}

TEST(Paths, UnixPathsMapToDriveZ) {
    EXPECT_EQ(harness::windowsPath("/a/b c/d.exe"), L"Z:\\a\\b c\\d.exe");
    EXPECT_EQ(harness::windowsPath("C:\\x"), L"C:\\x");
    std::wstring stub = harness::stubPath("setup64");
    EXPECT_EQ(stub.substr(0, 2), L"Z:");
    const std::wstring tail = L"\\stubs\\setup64.exe";
    ASSERT_GT(stub.size(), tail.size());
    EXPECT_EQ(stub.substr(stub.size() - tail.size()), tail);
    EXPECT_EQ(harness::stubPath("setup64.exe"), stub);
    EXPECT_TRUE(harness::directoryExists(harness::buildDir()));
    EXPECT_TRUE(harness::fileExists(harness::sourceDir() + L"\\tests\\support\\harness.h"));
}

TEST(BuildSetup, AppendsTheBlockAndTheResultRuns) {
    // Any PE image serves as a stub here: the probe, which then still runs.
    harness::TempDir dir;
    mksetup::SetupDescription d;
    d.settings = {{107, "1"}};
    d.messages = {{1000, u"Caption"}};
    d.files = {{"payload.txt", {'h', 'i'}}};
    std::wstring out = harness::buildSetup(HARNESS_PROBE, d, dir.file(L"built.exe"));
    EXPECT_EQ(out, dir.file(L"built.exe"));
    EXPECT_FALSE(harness::fileExists(out + L".part"));
    auto built = harness::readFileBytes(out);
    auto probeBytes = harness::readFileBytes(probe());
    EXPECT_GT(built.size(), probeBytes.size());
    std::string error;
    auto info = mksetup::inspectSetup(built, &error);
    ASSERT_TRUE(info) << error;
    EXPECT_EQ(info->blockStart, probeBytes.size());
    ASSERT_EQ(info->payload.size(), 1u);
    EXPECT_EQ(info->payload[0].name, "payload.txt");

    RunResult r = harness::runProgram(out, withArgs({L"--exit", L"9"}));
    EXPECT_EQ(r.exitCode, 9);
}

TEST(BuildSetup, ErrorsThrow) {
    harness::TempDir dir;
    harness::writeFileUtf8(dir.file(L"notpe.exe"), "not a PE image");
    mksetup::SetupDescription d;
    EXPECT_THROW(harness::buildSetup(harness::toUtf8(dir.file(L"notpe.exe")), d, dir.file(L"out.exe")),
                 std::runtime_error);
    EXPECT_FALSE(harness::fileExists(dir.file(L"out.exe")));
    EXPECT_THROW(harness::buildSetup(harness::toUtf8(dir.file(L"missing.exe")), d, dir.file(L"out.exe")),
                 std::runtime_error);
}

}  // namespace
