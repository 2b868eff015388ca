// Paths, temporary and extraction directories, expansion and the process
// environment, called directly under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "config/config_keys.h"
#include "harness.h"
#include "config/config_store.h"
#include "launcher/expand.h"
#include "launcher/path_utils.h"
#include "launcher/paths.h"
#include "launcher/process_env.h"

namespace {

// Scratch directories come from the harness; these paths are ASCII.
using ScratchDir = harness::TempDir;

std::string narrowOf(const std::wstring& path) { return std::string(path.begin(), path.end()); }

void touch(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(Paths, ExecutablePathForms) {
    std::string narrow = getExecutablePath();
    std::wstring wide = getExecutablePathW();
    ASSERT_GE(narrow.size(), 4u);
    EXPECT_EQ(_stricmp(narrow.c_str() + narrow.size() - 4, ".exe"), 0);
    EXPECT_TRUE(fileExists(wide.c_str()));
    std::wstring dir = getExecutableDirectoryW(PathMode::Long);
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), L'\\');
    EXPECT_EQ(wide.compare(0, dir.size(), dir), 0);
    EXPECT_EQ(std::string(getExecutableDirectory()).back(), '\\');
}

TEST(Paths, FileExists) {
    ScratchDir dir;
    std::wstring file = dir.path() + L"\\present.txt";
    touch(file);
    EXPECT_TRUE(fileExists(file.c_str()));
    EXPECT_TRUE(fileExists((narrowOf(dir.path()) + "\\present.txt").c_str()));
    EXPECT_FALSE(fileExists((dir.path() + L"\\absent.txt").c_str()));
    // Drive roots answer without a directory search, even for absent drives.
    EXPECT_TRUE(fileExists(L"q:\\"));
    EXPECT_TRUE(fileExists("q:\\."));
    EXPECT_TRUE(fileExists(L"c:\\.\\."));
}

TEST(Paths, ResolvePathAgainstExecutableOrBase) {
    std::wstring out;
    resolvePath(out, L"lib\\\\x.jar", PathMode::Long);
    EXPECT_EQ(out, std::wstring(getExecutableDirectoryW(PathMode::Long)) + L"lib\\x.jar");
    resolvePath(out, L"c:\\abs\\\\y", PathMode::Long);
    EXPECT_EQ(out, L"c:\\abs\\y");
    std::string narrow;
    resolvePath(narrow, "rel.txt", "c:\\base\\dir\\file.cfg");
    EXPECT_EQ(narrow, "c:\\base\\dir\\rel.txt");
    resolveFullPath(out, L"C:\\Some\\..\\Dir\\.\\X", PathMode::Long, false);
    EXPECT_EQ(out, L"c:\\dir\\x");
    resolveFullPath(out, L"C:\\Some\\..\\Dir", PathMode::Long, true);
    EXPECT_EQ(out, L"C:\\Dir");
}

TEST(Paths, SplitPathListResolvesEachEntry) {
    std::vector<std::string> seen;
    std::string joined;
    splitPathList(joined, "a;;c:\\b;", [&seen](const std::string& e) { seen.push_back(e); });
    std::string exeDir = getExecutableDirectory();
    EXPECT_EQ(joined, exeDir + "a;c:\\b");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], exeDir + "a");
}

TEST(Paths, UsableDirectoryProbe) {
    ScratchDir dir;
    EXPECT_TRUE(isUsableDirectory(dir.path().c_str(), false, true));
    EXPECT_FALSE(isUsableDirectory(L"", true, false));
    std::wstring missing = dir.path() + L"\\missing";
    EXPECT_FALSE(isUsableDirectory(missing.c_str(), false, false));
    EXPECT_TRUE(isUsableDirectory(missing.c_str(), true, false));  // created first
    std::wstring file = dir.path() + L"\\plain.txt";
    touch(file);
    EXPECT_FALSE(isUsableDirectory(file.c_str(), false, false));
    // The probe leaves nothing behind.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir.path() + L"\\tkotw*").c_str(), &data);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

TEST(Paths, UnrepresentableDirectoryOnlyInRelaxedPass) {
    ScratchDir dir;
    // Cyrillic has no spelling in code page 1252.
    std::wstring odd = dir.path() + L"\\\u0436\u0437";
    ASSERT_TRUE(CreateDirectoryW(odd.c_str(), nullptr));
    EXPECT_FALSE(isUsableDirectory(odd.c_str(), false, true));
    EXPECT_TRUE(isUsableDirectory(odd.c_str(), false, false));

    bool relaxed = false;
    std::wstring chosen = chooseTempDirectoryAmong({{odd, true, true}, {L"", false, false}},
                                                   {{odd, true, false}}, relaxed);
    EXPECT_EQ(chosen, odd);
    EXPECT_TRUE(relaxed);

    relaxed = false;
    chosen = chooseTempDirectoryAmong({{odd, true, true}, {dir.path(), false, true}}, {}, relaxed);
    EXPECT_EQ(chosen, dir.path());
    EXPECT_FALSE(relaxed);

    chosen = chooseTempDirectoryAmong({{odd, false, true}}, {{dir.path() + L"\\nope", false, false}}, relaxed);
    EXPECT_EQ(chosen, L"");
}

TEST(Paths, TempCandidateOrder) {
    SetEnvironmentVariableW(L"USERPROFILE", L"c:\\users\\probe");
    SetEnvironmentVariableW(L"HOMEDRIVE", L"d:");
    SetEnvironmentVariableW(L"HOMEPATH", L"\\home");
    auto strict = tempDirectoryCandidates(false);
    ASSERT_EQ(strict.size(), 8u);
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring expected[] = {L"", L"c:\\users\\probe\\AppData\\Local\\Temp", L"d:\\home",
                                     std::wstring(windows) + L"\\temp", L"c:\\temp", L"c:\\tmp",
                                     windows, L"c:\\tmp"};
    for (std::size_t i = 1; i < strict.size(); ++i) EXPECT_EQ(strict[i].path, expected[i]) << i;
    EXPECT_TRUE(strict[0].createFirst && strict[0].rejectUnrepresentable);
    EXPECT_TRUE(strict[7].createFirst && !strict[7].rejectUnrepresentable);
    EXPECT_TRUE(strict[2].rejectUnrepresentable && !strict[3].rejectUnrepresentable);
    auto relaxed = tempDirectoryCandidates(true);
    ASSERT_EQ(relaxed.size(), 3u);
    for (const auto& c : relaxed) EXPECT_FALSE(c.rejectUnrepresentable);
    SetEnvironmentVariableW(L"HOMEDRIVE", nullptr);
    EXPECT_EQ(tempDirectoryCandidates(false)[2].path, L"");  // skipped
}

TEST(Paths, TempFileAndExtractionDirectory) {
    std::string temp;
    getTempDirectory(temp);
    ASSERT_FALSE(temp.empty());
    std::string name;
    makeTempFileName(name);
    EXPECT_EQ(name.compare(0, temp.size(), temp), 0);
    EXPECT_NE(name.find("tko"), std::string::npos);
    EXPECT_TRUE(fileExists(name.c_str()));
    DeleteFileA(name.c_str());

    createExtractionDirectory();
    ASSERT_FALSE(extractionDir.empty());
    EXPECT_NE(extractionDir.find("_dir"), std::string::npos);
    DWORD attributes = GetFileAttributesA(extractionDir.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryA(extractionDir.c_str());
    // The name's own empty file stays beside the directory.
    std::string marker = extractionDir.substr(0, extractionDir.find("_dir"));
    EXPECT_TRUE(fileExists(marker.c_str()));
    DeleteFileA(marker.c_str());
    extractionDir.clear();
}

TEST(Paths, DeleteDirectoryTreeEmptiesTwoLevels) {
    ScratchDir dir;
    const std::wstring& d = dir.path();
    CreateDirectoryW((d + L"\\sub").c_str(), nullptr);
    CreateDirectoryW((d + L"\\sub\\deeper").c_str(), nullptr);
    CreateDirectoryW((d + L"\\empty").c_str(), nullptr);
    touch(d + L"\\a.txt");
    touch(d + L"\\sub\\b.txt");
    touch(d + L"\\sub\\deeper\\c.txt");
    deleteDirectoryTree(narrowOf(dir.path()).c_str(), true);
    EXPECT_FALSE(exists(d + L"\\a.txt"));
    EXPECT_FALSE(exists(d + L"\\empty"));
    EXPECT_FALSE(exists(d + L"\\sub\\b.txt"));
    // Only two levels: the third keeps its file, so its parents stay.
    EXPECT_TRUE(exists(d + L"\\sub\\deeper\\c.txt"));
    EXPECT_TRUE(exists(d));

    ScratchDir flat;
    CreateDirectoryW((flat.path() + L"\\sub").c_str(), nullptr);
    touch(flat.path() + L"\\sub\\x.txt");
    deleteDirectoryTree(narrowOf(flat.path()).c_str(), false);  // no descent: non-empty sub stays
    EXPECT_TRUE(exists(flat.path() + L"\\sub\\x.txt"));
}

TEST(Paths, DeleteDirectoryTreeIgnoresDotPaths) {
    ScratchDir dir;
    touch(dir.path() + L"\\keep.txt");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(dir.path().c_str());
    deleteDirectoryTree(".", true);
    deleteDirectoryTree(".\\", true);
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(exists(dir.path() + L"\\keep.txt"));
}

TEST(Expansion, BuiltinsAndEnvironmentUnderWine) {
    SetEnvironmentVariableW(L"UnitVar", L"val");
    std::vector<wchar_t> buffer(kPathBufferSize);
    wcscpy(buffer.data(), L"${launcher:sys.launcherDirectory}lib;${UnitVar};${UNITVAR};${unitvar};${TARKO_TEMPDIR}");
    expandVariables(buffer.data(), PathMode::Long);
    EXPECT_EQ(std::wstring(buffer.data()),
              std::wstring(getExecutableDirectoryW(PathMode::Long)) + L"lib;val;val;${unitvar};");

    std::string narrow = "%TARKO_EXEDIR%|${launcher:sys.tempDir}";
    expandVariablesA(narrow);
    std::string temp;
    getTempDirectory(temp);
    EXPECT_EQ(narrow, std::string(getExecutableDirectory()) + "|" + temp);
}

TEST(Expansion, ResultLongerThanBufferIsCut) {
    std::wstring big(5000, L'x');
    SetEnvironmentVariableW(L"BIG", big.c_str());
    std::vector<wchar_t> buffer(kPathBufferSize, L'\0');
    wcscpy(buffer.data(), L"${BIG}${BIG}");
    expandVariables(buffer.data(), PathMode::Long);
    EXPECT_EQ(wcslen(buffer.data()), kPathBufferSize - 1);
    SetEnvironmentVariableW(L"BIG", nullptr);
}

TEST(ProcessEnvironment, NativeLibraryPath) {
    auto currentPath = [] {
        std::vector<char> value(40000);
        DWORD n = GetEnvironmentVariableA("PATH", value.data(), static_cast<DWORD>(value.size()));
        return std::string(value.data(), n);
    };
    const std::string before = currentPath();

    configStore().settings.erase(key::kNativeLibraryDirectories);
    setNativeLibraryPath();
    EXPECT_EQ(currentPath(), before);

    SetEnvironmentVariableA("UNIT_LIB", "c:\\extra");
    configStore().settings[key::kNativeLibraryDirectories] = "lib;${UNIT_LIB}";
    setNativeLibraryPath();
    std::string expected = std::string(getExecutableDirectory()) + "lib;c:\\extra;" + before;
    EXPECT_EQ(currentPath(), expected);
    // The runtime library's own copy follows.
    const char* crtPath = getenv("PATH");
    ASSERT_NE(crtPath, nullptr);
    EXPECT_EQ(std::string(crtPath), expected);
    SetEnvironmentVariableA("PATH", before.c_str());
    configStore().settings.erase(key::kNativeLibraryDirectories);
}

TEST(ProcessEnvironment, PathEntriesOutsideTheCodePageSurvive) {
    std::vector<wchar_t> saved(32767);
    DWORD n = GetEnvironmentVariableW(L"PATH", saved.data(), static_cast<DWORD>(saved.size()));
    const std::wstring before(saved.data(), n);
    const std::wstring odd = L"c:\\\u0436\u0437;c:\\windows";
    SetEnvironmentVariableW(L"PATH", odd.c_str());
    configStore().settings[key::kNativeLibraryDirectories] = "c:\\lib";
    setNativeLibraryPath();
    std::vector<wchar_t> after(32767);  // larger sizes overflow a 16-bit length inside Wine
    n = GetEnvironmentVariableW(L"PATH", after.data(), static_cast<DWORD>(after.size()));
    EXPECT_TRUE(std::wstring(after.data(), n) == L"c:\\lib;" + odd);
    SetEnvironmentVariableW(L"PATH", before.c_str());
    configStore().settings.erase(key::kNativeLibraryDirectories);
}

TEST(ProcessEnvironment, DllDirectories) {
    ScratchDir dir;
    void* cookie = addDllDirectory(narrowOf(dir.path()).c_str());
    EXPECT_NE(cookie, nullptr);
    removeDllDirectory(cookie);
    removeDllDirectory(nullptr);
}

}  // namespace

namespace {

// In a double-byte code page a PATH within the system's 32767-character
// limit can exceed the 48000 bytes of the native-library PATH: it is then
// left as it was rather than cut.
TEST(CodePage932, NativeLibraryPathThatDoesNotFitIsLeftAlone) {
    ASSERT_EQ(GetACP(), 932u);
    std::wstring longPath(30000, L'\u3042');  // two bytes each in code page 932
    ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", longPath.c_str()));
    configStore().settings[key::kNativeLibraryDirectories] = "c:\\lib";
    setNativeLibraryPath();
    std::vector<wchar_t> after(32767);  // larger sizes overflow a 16-bit length inside Wine
    DWORD n = GetEnvironmentVariableW(L"PATH", after.data(), static_cast<DWORD>(after.size()));
    ASSERT_LT(n, after.size());
    // Compared without printing: a failure would dump 30000 characters.
    EXPECT_TRUE(std::wstring(after.data(), n) == longPath)
        << "PATH now has " << n << " characters";
    configStore().settings.erase(key::kNativeLibraryDirectories);

    // A PATH that fits still gets the directories in front.
    SetEnvironmentVariableW(L"PATH", L"c:\\windows");
    configStore().settings[key::kNativeLibraryDirectories] = "c:\\lib";
    setNativeLibraryPath();
    n = GetEnvironmentVariableW(L"PATH", after.data(), static_cast<DWORD>(after.size()));
    EXPECT_EQ(std::wstring(after.data(), n), L"c:\\lib;c:\\windows");
    configStore().settings.erase(key::kNativeLibraryDirectories);
}

TEST(CodePage932, NarrowConversionsFollowTheCodePage) {
    std::string narrow;
    EXPECT_TRUE(toNarrow(L"\u65E5\u672C", narrow));
    EXPECT_EQ(narrow, "\x93\xFA\x96\x7B");
    EXPECT_FALSE(toNarrow(L"\u0E01x", narrow));  // Thai has no spelling in code page 932
}

}  // namespace
