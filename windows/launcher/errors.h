// The one way of reporting errors: a message box, or standard error when
// boxes are disabled; fatal variants end the process through exitLauncher.
#pragma once

#include <cstddef>

constexpr std::size_t kMessageBufferSize = 6000;

void setErrorOwnerWindow(void* window);
void disableErrorBoxes();
bool errorBoxesEnabled();

// Message `id`, else setting `id` widened, else "". `buffer` holds
// kMessageBufferSize characters.
void getMessageOrSetting(int id, wchar_t* buffer);

void showError(const wchar_t* text);
void showErrorById(int id, const wchar_t* argument = nullptr);
void showErrorByIdA(int id, const char* argument);

[[noreturn]] void exitLauncher(int exitCode);
[[noreturn]] void fatalError(const wchar_t* text);
[[noreturn]] void fatalErrorById(int id);
[[noreturn]] void fatalErrorByIdArg(int id, const wchar_t* argument);
[[noreturn]] void fatalErrorByIdArgA(int id, const char* argument);
