// Path predicates and rewrites that need no system call.
#pragma once

#include <cstddef>
#include <string>

// True for paths shorter than 3 characters (after an optional leading
// double quote), false for drive-absolute ("x:\") and UNC paths; a path
// starting with a single backslash counts as relative.
bool isRelativePath(const char* path);
bool isRelativePath(const wchar_t* path);

// Drive-root spellings that exist without asking the disk: "x:\", "x:\.",
// "x:\.\.".
bool isDriveRootForm(const char* path);
bool isDriveRootForm(const wchar_t* path);

// Every run of backslashes becomes one, except in the first two characters,
// so a leading UNC double backslash survives.
void collapseBackslashes(std::wstring& path);
void collapseBackslashes(wchar_t* path);

// Lower-cases A-Z only.
void lowerAsciiLetters(wchar_t* path);

// Limit of the PATH value built for native libraries.
constexpr std::size_t kNativePathLimit = 48000;

// Joins the resolved library directories and the current PATH. False, and
// `out` untouched, when the result would not fit in `limit` bytes (with its
// terminator): a cut PATH would silently lose entries.
bool composeNativeLibraryPath(const std::string& directories, const std::string& currentPath,
                              std::size_t limit, std::string& out);
