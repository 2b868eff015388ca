// DLL search directories, PATH for native libraries, and small process-level
// operations.
#pragma once

#include <cstddef>
#include <string>

void* addDllDirectory(const char* path);
void removeDllDirectory(void* cookie);

void setNativeLibraryPath();

void requestReboot();
void initCommonControls();
void centerWindow(void* window);
