// Paths in both encodings, the temporary and extraction directories.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

constexpr std::size_t kPathBufferSize = 6000;

// Form of the executable directory used for wide results.
enum class PathMode {
    NarrowDerived,  // the narrow directory widened: stays representable
    Long,           // the long wide directory
};

// Conversions in the file-system code page with "?" as replacement; false
// when the result needed the replacement (not representable).
bool toNarrow(const wchar_t* text, std::string& out);
bool toWide(const char* text, std::wstring& out);
// The runtime's default ("C" locale) widening: byte by byte.
std::wstring widenBytes(const char* text);

const char* getExecutablePath();
const wchar_t* getExecutablePathW();
// With trailing backslash.
const char* getExecutableDirectory();
const wchar_t* getExecutableDirectoryW(PathMode mode);

bool fileExists(const char* path);
bool fileExists(const wchar_t* path);

// Narrow collapse: through wide, written back only when representable.
void collapseBackslashesA(std::string& path);
// Lower-cases A-Z through wide, written back only when representable.
void lowerPathA(std::string& path);

// Relative paths are taken relative to `baseFile`'s directory, else the
// executable directory; backslash runs are collapsed.
void resolvePath(std::string& out, const char* path, const char* baseFile = nullptr);
void resolvePath(std::wstring& out, const wchar_t* path, PathMode mode,
                 const wchar_t* baseFile = nullptr);
void resolveFullPath(std::string& out, const char* path, bool keepCase);
void resolveFullPath(std::wstring& out, const wchar_t* path, PathMode mode, bool keepCase);

// ";"-separated list (at most 6000 bytes, empty entries skipped), each entry
// resolved against the executable directory; `out` gets them joined by ";".
void splitPathList(std::string& out, const char* list,
                   const std::function<void(const std::string&)>& callback = nullptr);

// Names of the entries matching directory\*.ext, in enumeration order.
std::vector<std::string> listFilesWithExtension(const char* directory, const char* extension);

bool isUsableDirectory(const wchar_t* directory, bool createFirst, bool rejectUnrepresentable);
bool isUsableDirectory(const char* directory, bool createFirst, bool rejectUnrepresentable);

// The accepted "-temp" directory (both forms), or cleared.
void setManualTempDir(const std::wstring& wide, const std::string& narrow);
void clearManualTempDir();
bool hasManualTempDir();

// Narrow form; fatal (message 1015) when no directory is usable.
void getTempDirectory(std::string& out);
// Wide form; "" when nothing is usable and `fatal` is false.
void getTempDirectoryW(std::wstring& out, bool fatal);
bool relaxedTempDirUsed();

// The temporary-directory candidates in the order they are tried: the
// strict pass, or the relaxed pass that accepts unrepresentable paths.
struct TempCandidate {
    std::wstring path;  // empty: skipped
    bool createFirst;
    bool rejectUnrepresentable;
};
std::vector<TempCandidate> tempDirectoryCandidates(bool relaxedPass);
// First usable candidate; `relaxedUsed` is set when the relaxed list is reached.
std::wstring chooseTempDirectoryAmong(const std::vector<TempCandidate>& strict,
                                      const std::vector<TempCandidate>& relaxed, bool& relaxedUsed);

void makeTempFileName(std::string& out);
// Creates extractionDir below the temporary directory; fatal after 10 tries.
void createExtractionDirectory();
// Empties `directory`; with `descend`, its subdirectories are emptied one
// level deep before they are removed. The directory itself stays.
void deleteDirectoryTree(const char* directory, bool descend);

// Narrow path of the payload's directory; empty until created.
extern std::string extractionDir;
