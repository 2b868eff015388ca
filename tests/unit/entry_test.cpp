// Flavour, launcher class, switch evaluation and the window helpers of the
// entry sequence, called directly.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "config/config_keys.h"
#include "config/config_store.h"
#include "launcher/entry.h"
#include "launcher/errors.h"
#include "launcher/process_env.h"
#include "launcher/run_flags.h"

namespace {

TEST(Entry, FlavourAndLauncherClass) {
    const struct {
        const char* setting;  // nullptr: key absent
        char flavour;
        const wchar_t* name;
        const char* launcherClass;
    } cases[] = {
        {"i", 'i', L"corvaline", "com/corvaline/runtime/launcher/WinLauncher"},
        {"e", 'e', L"tarko", "com/tarko/runtime/WinLauncher"},
        {"ei", 'e', L"tarko", "com/tarko/runtime/WinLauncher"},  // first character only
        {"x", 'x', L"corvaline", "com/tarko/runtime/WinLauncher"},
        {"", '\0', L"corvaline", "com/tarko/runtime/WinLauncher"},
        {nullptr, '\0', L"corvaline", "com/tarko/runtime/WinLauncher"},
    };
    for (const auto& c : cases) {
        configStore().settings.erase(key::kFlavour);
        if (c.setting) configStore().settings[key::kFlavour] = c.setting;
        readFlavour();
        EXPECT_EQ(flavour, c.flavour) << (c.setting ? c.setting : "absent");
        EXPECT_STREQ(flavourName, c.name);
        char buffer[64];
        launcherClassName(buffer, sizeof(buffer));
        EXPECT_STREQ(buffer, c.launcherClass);
    }
    // A short buffer gets a terminated prefix.
    char small[5];
    launcherClassName(small, sizeof(small));
    EXPECT_STREQ(small, "com/");
    configStore().settings.erase(key::kFlavour);
}

TEST(Entry, SwitchesSetTheRunModeFlags) {
    quietMode = false;
    manualJre = false;
    integrityCheck = true;
    // Case matters, and only whole arguments count.
    evaluateSwitches({L"setup.exe", L"-Q", L"-NOCHECK", L"-manualx", L"-qq"});
    EXPECT_FALSE(quietMode);
    EXPECT_FALSE(manualJre);
    EXPECT_TRUE(integrityCheck);
    EXPECT_TRUE(errorBoxesEnabled());

    evaluateSwitches({L"setup.exe", L"/manual", L"-nocheck", L"-q"});
    EXPECT_TRUE(quietMode);
    EXPECT_TRUE(manualJre);
    EXPECT_FALSE(integrityCheck);
    EXPECT_FALSE(errorBoxesEnabled());
}

LRESULT CALLBACK plainWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

HWND makeWindow(HWND owner, int x, int y, int width, int height) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = plainWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"EntryTestWindow";
        RegisterClassW(&wc);
        registered = true;
    }
    return CreateWindowExW(0, L"EntryTestWindow", L"", WS_POPUP, x, y, width, height, owner, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

TEST(Entry, CenterWindowOverParentAndDesktop) {
    HWND parent = makeWindow(nullptr, 100, 50, 401, 301);
    ASSERT_NE(parent, nullptr) << "no display? " << GetLastError();
    HWND child = makeWindow(parent, 0, 0, 100, 50);
    ASSERT_NE(child, nullptr);
    centerWindow(child);
    RECT r;
    GetWindowRect(child, &r);
    // (401 - 100) / 2 = 150 and (301 - 50) / 2 = 125, rounded towards zero.
    EXPECT_EQ(r.left, 100 + 150);
    EXPECT_EQ(r.top, 50 + 125);
    EXPECT_EQ(r.right - r.left, 100);
    EXPECT_EQ(r.bottom - r.top, 50);

    // Larger than its parent: negative offsets.
    HWND wide = makeWindow(parent, 0, 0, 601, 301);
    centerWindow(wide);
    GetWindowRect(wide, &r);
    EXPECT_EQ(r.left, 100 + (401 - 601) / 2);

    HWND alone = makeWindow(nullptr, 0, 0, 200, 100);
    centerWindow(alone);
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(alone, &r);
    EXPECT_EQ(r.left, desktop.left + (desktop.right - desktop.left - 200) / 2);
    EXPECT_EQ(r.top, desktop.top + (desktop.bottom - desktop.top - 100) / 2);
    for (HWND w : {alone, wide, child, parent}) DestroyWindow(w);
}

TEST(Entry, CommonControlsAreLoadedAndInitialised) {
    initCommonControls();
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    // The progress bar class exists once the controls are initialised.
    WNDCLASSW info;
    EXPECT_TRUE(GetClassInfoW(nullptr, L"msctls_progress32", &info) ||
                GetClassInfoW(comctl, L"msctls_progress32", &info));
}

}  // namespace
