// Expansion of built-in and environment variables in configured strings.
#pragma once

#include <string>

#include "launcher/paths.h"

// In place; buffers hold kPathBufferSize characters. A result that does not
// fit is cut at the buffer's end and logged as an error.
void expandVariables(wchar_t* buffer, PathMode mode);
void expandVariablesA(char* buffer);
void expandVariables(std::wstring& text, PathMode mode);
void expandVariablesA(std::string& text);
