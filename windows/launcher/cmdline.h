// Command-line splitting: spaces separate, single and double quotes group,
// no escape characters, tab is an ordinary character.
#pragma once

#include <string>
#include <vector>

void splitCommandLine(const wchar_t* commandLine, std::vector<std::wstring>& args);
