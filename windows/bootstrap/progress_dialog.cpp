#include "bootstrap/progress_dialog.h"

#include <windows.h>

#include "bootstrap/bootstrap.h"
#include "launcher/log.h"
#include "launcher/run_flags.h"
#include "resources/resource_ids.h"

bool registerDialogClass() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_BYTEALIGNWINDOW | CS_SAVEBITS | CS_DBLCLKS;
    wc.lpfnWndProc = DefDlgProcW;
    wc.cbWndExtra = 30;  // DLGWINDOWEXTRA: the dialog manager keeps its state here
    wc.hInstance = static_cast<HINSTANCE>(launcherInstance);
    wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"MyDialogClass";
    bool ok = RegisterClassExW(&wc) != 0;
    logMessage(L"register dialog class %d", ok ? 1 : 0);
    return ok;
}

void runProgressDialog() {
    // The dialog with its worker thread replaces this direct call.
    logMessage(L"progress dialog requested");
    runBootstrap(nullptr);
}
