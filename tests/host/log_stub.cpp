// Native builds have no log file: record the formats so tests can check
// which lines would have been written.
#include "log_stub.h"

std::vector<std::wstring>& loggedFormats() {
    static std::vector<std::wstring> formats;
    return formats;
}

void logMessage(const wchar_t* format, ...) { loggedFormats().emplace_back(format); }
void logError(const wchar_t* format, ...) { loggedFormats().emplace_back(std::wstring(L"ERROR: ") + format); }
const wchar_t* logFilePath() { return L""; }
