// A program built from the stub library that runs single steps of the
// stub on request, so tests can reach paths the entry sequence only takes
// in later stages (error reports after the switches, message lookups).
// It is turned into a setup program by the builder like the real stub.
//
//   stub_probe messages ID...      read the block, print language and messages
//   stub_probe fatal ID ARG [quiet] [langrestart] [extract]
//                                  read the block, then fatalErrorByIdArg
//   stub_probe fatalnoarg ID       read the block, then fatalErrorById
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/config_reader.h"
#include "config/config_store.h"
#include "config/language.h"
#include "launcher/cmdline.h"
#include "launcher/errors.h"
#include "launcher/log.h"
#include "launcher/paths.h"
#include "launcher/run_flags.h"

namespace {

std::string utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

bool has(const std::vector<std::wstring>& args, const wchar_t* word) {
    for (const auto& a : args) {
        if (a == word) return true;
    }
    return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::vector<std::wstring> args;
    splitCommandLine(GetCommandLineW(), args);
    if (args.size() < 3) return 2;
    logMessage(L"probe %s", args[1].c_str());
    readConfiguration(args);

    if (args[1] == L"messages") {
        char language[8] = "", country[8] = "";
        bool hasLanguage = getLanguage(language, sizeof(language));
        bool hasCountry = getCountry(country, sizeof(country));
        std::printf("language=%s\n", hasLanguage ? language : "(unset)");
        std::printf("country=%s\n", hasCountry ? country : "(unset)");
        for (std::size_t i = 2; i < args.size(); ++i) {
            int id = _wtoi(args[i].c_str());
            std::vector<wchar_t> buffer(kMessageBufferSize);
            getMessage(id, buffer.data());
            std::printf("%d=%s\n", id, utf8(buffer.data()).c_str());
        }
        std::fflush(stdout);
        return 0;
    }

    int id = _wtoi(args[2].c_str());
    if (has(args, L"quiet")) disableErrorBoxes();
    if (has(args, L"langrestart")) languageRestart = true;
    if (has(args, L"extract")) {
        createExtractionDirectory();
        std::string file = extractionDir + "\\payload.txt";
        HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        std::string sub = extractionDir + "\\sub";
        CreateDirectoryA(sub.c_str(), nullptr);
        std::printf("extraction=%s\n", extractionDir.c_str());
        std::fflush(stdout);
    }
    if (args[1] == L"fatalnoarg") fatalErrorById(id);
    fatalErrorByIdArg(id, args.size() > 3 ? args[3].c_str() : nullptr);
}
