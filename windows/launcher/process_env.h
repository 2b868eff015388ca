// DLL search directories, PATH for native libraries, and small process-level
// operations.
#pragma once

#include <cstddef>
#include <string>

constexpr std::size_t kNativePathLimit = 48000;

void* addDllDirectory(const char* path);
void removeDllDirectory(void* cookie);

// Joins the resolved library directories and the current PATH. False, and
// `out` untouched, when the result would not fit in `limit` bytes (with its
// terminator): a cut PATH would silently lose entries.
bool composeNativeLibraryPath(const std::string& directories, const std::string& currentPath,
                              std::size_t limit, std::string& out);
void setNativeLibraryPath();

void requestReboot();
void initCommonControls();
void centerWindow(void* window);
