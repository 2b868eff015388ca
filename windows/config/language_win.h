#pragma once

#include <string>
#include <vector>

// Chooses the language code from the user-interface language, or from the
// format locale when the arguments ask for it.
std::string chooseLanguage(const std::vector<std::wstring>& args);
