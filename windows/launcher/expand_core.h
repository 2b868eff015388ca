// Textual substitution of built-in and environment variables.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Replaces every occurrence of `pattern`, left to right; the search resumes
// after each inserted replacement, so a value containing its own pattern is
// not expanded again. Each substitution is logged.
void replaceAll(std::wstring& text, const std::wstring& pattern, const std::wstring& replacement);
void replaceAll(std::string& text, const std::string& pattern, const std::string& replacement);

template <class Ch>
struct ExpansionValues {
    std::basic_string<Ch> executableDirectory;
    std::basic_string<Ch> extractionDirectory;
    std::basic_string<Ch> jvmHome;
    std::basic_string<Ch> tempDirectory;
    // Environment entries (name, value) in block order.
    std::vector<std::pair<std::basic_string<Ch>, std::basic_string<Ch>>> environment;
};

// Built-in variables first, in their fixed order, then "${NAME}" for each
// environment entry in its own spelling and upper-cased.
void expandWithValues(std::wstring& text, const ExpansionValues<wchar_t>& values);
void expandWithValues(std::string& text, const ExpansionValues<char>& values);

// Splits an environment block ("NAME=value\0...\0\0") into entries. Entries
// whose name is empty (the "=C:" drive entries) keep their leading '='.
std::vector<std::pair<std::wstring, std::wstring>> parseEnvironmentBlock(const wchar_t* block);
std::vector<std::pair<std::string, std::string>> parseEnvironmentBlock(const char* block);
