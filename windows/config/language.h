// Language table and the Windows-free logic for choosing the UI language code.
// The code selects the localized message groups and gives the VM its user
// language and country.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct LanguageRow {
    std::uint16_t id;   // primary language (low 10 bits) or full language id
    const char* code;   // "ll", "ll_CC" or "no_NO_NY"
};

// Searched in order: the first 71 rows are primary-language ids, the rest
// full language ids. Duplicates and odd entries are intentional.
extern const LanguageRow LANGUAGE_TABLE[];
extern const std::size_t LANGUAGE_TABLE_SIZE;

constexpr std::size_t kLanguageCodeSize = 9;  // codes have at most 8 characters

// Exact full-id row first, else the primary-language row (id & 0x3FF),
// else "en". Never returns null.
const char* languageCodeForId(std::uint16_t languageId);

// True when the last argument starting with "-Dsun.locale.formatasdefault="
// is exactly "-Dsun.locale.formatasdefault=true"; false when none is present.
bool formatLocaleRequested(const std::vector<std::wstring>& args);

// Splits the chosen code into the language (first two characters) and the
// country (characters at index 3 and 4, only for 5-character codes).
// Process-wide state; a null code forgets it.
void setLanguageCode(const char* code);

// Bounded copies: truncate and terminate when `size` is too small; size 0
// writes nothing. Return false when that value is unset.
bool getLanguage(char* buffer, std::size_t size);
bool getCountry(char* buffer, std::size_t size);

// A group applies when its prefix equals the first strlen(prefix)
// characters of the code; an empty prefix applies to every code.
bool languageGroupApplies(const char* prefix, const char* code);

// Forgets the process-wide language state (tests).
void resetLanguageCode();
