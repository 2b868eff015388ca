// Finding, reading and driving other processes' windows. Messages to them go through
// SendMessageTimeoutW so a hung program cannot hang the test.
#include "harness.h"
#include "harness_internal.h"

#include <windows.h>

#include <algorithm>

namespace harness {

namespace {

constexpr UINT kMessageTimeoutMs = 3000;
constexpr DWORD kPollMs = 50;

HWND hwndOf(void* p) { return static_cast<HWND>(p); }

std::wstring classOf(HWND hwnd) {
    wchar_t buf[256];
    int n = GetClassNameW(hwnd, buf, 256);
    return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

BOOL CALLBACK collectTopLevel(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK collectChildren(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

bool isButtonClass(const std::wstring& cls) {
    return CompareStringOrdinal(cls.c_str(), -1, L"Button", -1, TRUE) == CSTR_EQUAL;
}

bool isStaticClass(const std::wstring& cls) {
    return CompareStringOrdinal(cls.c_str(), -1, L"Static", -1, TRUE) == CSTR_EQUAL;
}

// The dialog must be current for a simulated click; with no window manager a single
// SetForegroundWindow does not always take.
void bringToFront(HWND dialog) {
    for (int i = 0; i < 2 && GetForegroundWindow() != dialog; ++i) SetForegroundWindow(dialog);
}

bool click(const DialogInfo& dialog, const ControlInfo& button) {
    HWND dlg = hwndOf(dialog.hwnd);
    HWND btn = hwndOf(button.hwnd);
    if (!IsWindow(btn) || !IsWindowVisible(btn) || !IsWindowEnabled(btn)) return false;
    bringToFront(dlg);
    DWORD_PTR unused = 0;
    return SendMessageTimeoutW(btn, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &unused) != 0 ||
           !IsWindow(btn);  // the click may end the program before the answer arrives
}

}  // namespace

std::wstring stripAmpersands(const std::wstring& label) {
    std::wstring out;
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == L'&') {
            if (i + 1 < label.size() && label[i + 1] == L'&') {
                out += L'&';
                ++i;
            }
            continue;
        }
        out += label[i];
    }
    return out;
}

std::wstring windowText(void* hwnd) {
    HWND h = hwndOf(hwnd);
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &copied)) {
        return {};
    }
    text.resize(std::min<size_t>(copied, length));
    return text;
}

std::vector<WindowInfo> topLevelWindows(unsigned long pid, bool visibleOnly) {
    std::vector<HWND> all;
    EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&all));
    std::vector<WindowInfo> found;
    for (HWND hwnd : all) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (pid != 0 && owner != pid) continue;
        bool visible = IsWindowVisible(hwnd) != FALSE;
        if (visibleOnly && !visible) continue;
        WindowInfo info;
        info.hwnd = hwnd;
        info.pid = owner;
        info.className = classOf(hwnd);
        info.caption = windowText(hwnd);
        info.visible = visible;
        found.push_back(std::move(info));
    }
    return found;
}

std::optional<WindowInfo> waitForWindow(unsigned long pid, unsigned timeoutMs,
                                        const std::function<bool(const WindowInfo&)>& accept) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        for (const WindowInfo& w : topLevelWindows(pid, true)) {
            if (!accept || accept(w)) return w;
        }
        if (GetTickCount64() >= deadline) return std::nullopt;
        Sleep(kPollMs);
    }
}

std::optional<DialogInfo> readDialog(void* hwnd) {
    HWND dlg = hwndOf(hwnd);
    if (!IsWindow(dlg)) return std::nullopt;
    DialogInfo info;
    info.hwnd = hwnd;
    info.className = classOf(dlg);
    info.caption = windowText(dlg);
    std::vector<HWND> children;
    EnumChildWindows(dlg, collectChildren, reinterpret_cast<LPARAM>(&children));
    // Message boxes hold their text in the one static with id 65535; ordinary dialogs may
    // use that id (IDC_STATIC) for several labels, and then all of them count.
    std::wstring messageText;
    int messageStatics = 0;
    std::wstring staticTexts;
    for (HWND child : children) {
        ControlInfo c;
        c.hwnd = child;
        c.id = GetDlgCtrlID(child);
        c.className = classOf(child);
        c.text = windowText(child);
        c.visible = IsWindowVisible(child) != FALSE;
        c.enabled = IsWindowEnabled(child) != FALSE;
        if (isStaticClass(c.className)) {
            if ((c.id & 0xFFFF) == 0xFFFF) {
                messageText = c.text;
                ++messageStatics;
            }
            if (!c.text.empty()) {
                if (!staticTexts.empty()) staticTexts += L"\n";
                staticTexts += c.text;
            }
        } else if (isButtonClass(c.className) && c.visible) {
            info.buttons.push_back(stripAmpersands(c.text));
            info.buttonIds.push_back(c.id);
        }
        info.controls.push_back(std::move(c));
    }
    info.text = (messageStatics == 1 && !messageText.empty()) ? messageText : staticTexts;
    return info;
}

std::optional<DialogInfo> waitForDialog(unsigned long pid, unsigned timeoutMs) {
    return waitForDialog(pid, timeoutMs, nullptr);
}

std::optional<DialogInfo> waitForDialog(unsigned long pid, unsigned timeoutMs,
                                        const std::function<bool(const DialogInfo&)>& accept) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        for (const WindowInfo& w : topLevelWindows(pid, true)) {
            if (w.className != L"#32770") continue;
            std::optional<DialogInfo> d = readDialog(w.hwnd);
            if (d && (!accept || accept(*d))) return d;
        }
        if (GetTickCount64() >= deadline) return std::nullopt;
        Sleep(kPollMs);
    }
}

bool pressButton(const DialogInfo& dialog, const std::wstring& labelWithoutAmpersand) {
    for (const ControlInfo& c : dialog.controls) {
        if (isButtonClass(c.className) && c.visible && stripAmpersands(c.text) == labelWithoutAmpersand) {
            return click(dialog, c);
        }
    }
    return false;
}

bool pressButtonId(const DialogInfo& dialog, int id) {
    for (const ControlInfo& c : dialog.controls) {
        if (isButtonClass(c.className) && c.id == id) return click(dialog, c);
    }
    return false;
}

bool setControlText(const DialogInfo& dialog, int id, const std::wstring& text) {
    for (const ControlInfo& c : dialog.controls) {
        if (c.id != id) continue;
        DWORD_PTR ok = 0;
        return SendMessageTimeoutW(hwndOf(c.hwnd), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                   SMTO_ABORTIFHUNG, kMessageTimeoutMs, &ok) != 0 &&
               ok != 0;
    }
    return false;
}

bool closeWindow(void* hwnd) { return PostMessageW(hwndOf(hwnd), WM_CLOSE, 0, 0) != FALSE; }

bool waitForWindowGone(void* hwnd, unsigned timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (IsWindow(hwndOf(hwnd))) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(kPollMs);
    }
    return true;
}

}  // namespace harness
