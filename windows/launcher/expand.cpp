#include "launcher/expand.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "jvm/jvm_selection.h"
#include "launcher/expand_core.h"
#include "launcher/log.h"

namespace {

// The narrow block's export is plain "GetEnvironmentStrings"; the UNICODE
// macro hides it behind the wide one.
char* narrowEnvironmentBlock() {
#undef GetEnvironmentStrings
    return GetEnvironmentStrings();
}

}  // namespace

void expandVariables(std::wstring& text, PathMode mode) {
    ExpansionValues<wchar_t> values;
    values.executableDirectory = getExecutableDirectoryW(mode);
    if (mode == PathMode::Long) {
        getTempDirectoryW(values.tempDirectory, true);
    } else {
        std::string temp;
        getTempDirectory(temp);
        values.tempDirectory = widenBytes(temp.c_str());
    }
    values.extractionDirectory = widenBytes(extractionDir.c_str());
    values.jvmHome = widenBytes(jvmHome.c_str());
    if (wchar_t* block = GetEnvironmentStringsW()) {
        values.environment = parseEnvironmentBlock(block);
        FreeEnvironmentStringsW(block);
    }
    expandWithValues(text, values);
}

void expandVariablesA(std::string& text) {
    ExpansionValues<char> values;
    values.executableDirectory = getExecutableDirectory();
    getTempDirectory(values.tempDirectory);
    values.extractionDirectory = extractionDir;
    values.jvmHome = jvmHome;
    if (char* block = narrowEnvironmentBlock()) {
        values.environment = parseEnvironmentBlock(block);
        FreeEnvironmentStringsA(block);
    }
    expandWithValues(text, values);
}

void expandVariables(wchar_t* buffer, PathMode mode) {
    std::wstring text(buffer);
    expandVariables(text, mode);
    if (text.size() > kPathBufferSize - 1) {
        logError(L"expanded text cut to %d characters: %s", static_cast<int>(kPathBufferSize - 1),
                 text.c_str());
        text.resize(kPathBufferSize - 1);
    }
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
}

void expandVariablesA(char* buffer) {
    std::string text(buffer);
    expandVariablesA(text);
    if (text.size() > kPathBufferSize - 1) {
        logError(L"expanded text cut to %d characters: %S", static_cast<int>(kPathBufferSize - 1),
                 text.c_str());
        text.resize(kPathBufferSize - 1);
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
}
