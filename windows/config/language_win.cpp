#include "config/language_win.h"

#include <windows.h>

#include "config/language.h"
#include "launcher/log.h"

std::string chooseLanguage(const std::vector<std::wstring>& args) {
    std::uint16_t languageId = LANGIDFROMLCID(GetUserDefaultLCID());
    bool formatLocale = formatLocaleRequested(args);
    logMessage(L"sun.locale.formatasdefault is %S", formatLocale ? "true" : "false");
    if (!formatLocale) {
        // Older systems lack the function; the locale's language stays then.
        using UiLanguageFn = LANGID(WINAPI*)();
        HMODULE kernel = LoadLibraryW(L"Kernel32.DLL");
        auto uiLanguage = kernel ? reinterpret_cast<UiLanguageFn>(
                                       GetProcAddress(kernel, "GetUserDefaultUILanguage"))
                                 : nullptr;
        if (uiLanguage) languageId = uiLanguage();
    }
    std::string code = languageCodeForId(languageId);
    logMessage(L"language/country is %S", code.c_str());
    return code;
}
