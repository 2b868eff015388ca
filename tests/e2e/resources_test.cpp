// The resources every stub carries: the error dialog template and the
// application manifest (common controls 6, asInvoker, supported systems).
#include <windows.h>

#include <cstring>

#include "e2e_common.h"

namespace {

struct Resource {
    const std::uint8_t* data = nullptr;
    DWORD size = 0;
};

Resource findResource(HMODULE module, LPCWSTR type, int id) {
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!info) return {};
    HGLOBAL handle = LoadResource(module, info);
    return {static_cast<const std::uint8_t*>(LockResource(handle)), SizeofResource(module, info)};
}

bool containsWide(const Resource& r, const wchar_t* text) {
    std::size_t bytes = wcslen(text) * sizeof(wchar_t);
    for (std::size_t i = 0; i + bytes <= r.size; i += 2) {
        if (std::memcmp(r.data + i, text, bytes) == 0) return true;
    }
    return false;
}

class StubResources : public ::testing::TestWithParam<const char*> {};

TEST_P(StubResources, ErrorDialogAndManifest) {
    std::wstring path = harness::stubPath(GetParam());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << GetLastError();

    Resource dialog = findResource(module, MAKEINTRESOURCEW(5), 101);  // RT_DIALOG
    ASSERT_NE(dialog.data, nullptr);
    ASSERT_GE(dialog.size, 26u);
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, 3 controls, 275 x 178 units.
    auto word = [&dialog](std::size_t at) { return dialog.data[at] | (dialog.data[at + 1] << 8); };
    EXPECT_EQ(word(0), 1);
    EXPECT_EQ(word(2), 0xFFFF);
    EXPECT_EQ(word(16), 3);
    EXPECT_EQ(word(22), 275);
    EXPECT_EQ(word(24), 178);
    EXPECT_TRUE(containsWide(dialog, L"@MSG_ERROR_DIALOG_CAPTION@"));
    EXPECT_TRUE(containsWide(dialog, L"@MSG_ERROR_DIALOG_TEXT@"));
    EXPECT_TRUE(containsWide(dialog, L"@MSG_ERROR_DIALOG_OK@"));
    EXPECT_TRUE(containsWide(dialog, L"MS Shell Dlg"));

    // Progress and question dialogs: 5 controls each, 233 x 79 units; the
    // progress dialog uses the launcher's own window class.
    for (int id : {103, 104}) {
        Resource other = findResource(module, MAKEINTRESOURCEW(5), id);
        ASSERT_NE(other.data, nullptr) << id;
        auto at = [&other](std::size_t i) { return other.data[i] | (other.data[i + 1] << 8); };
        EXPECT_EQ(at(16), 5) << id;
        EXPECT_EQ(at(22), 233) << id;
        EXPECT_EQ(at(24), 79) << id;
        // Class names are case-insensitive; the resource compiler upper-cases them.
        bool ownClass = containsWide(other, L"MyDialogClass") || containsWide(other, L"MYDIALOGCLASS");
        EXPECT_EQ(ownClass, id == 103) << id;
    }
    Resource progress = findResource(module, MAKEINTRESOURCEW(5), 103);
    ASSERT_GE(progress.size, 16u);
    std::uint32_t exStyle = progress.data[8] | (progress.data[9] << 8) | (progress.data[10] << 16) |
                            (static_cast<std::uint32_t>(progress.data[11]) << 24);
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);

    Resource manifest = findResource(module, MAKEINTRESOURCEW(24), 1);  // RT_MANIFEST
    ASSERT_NE(manifest.data, nullptr);
    std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    for (const char* os : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                           "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        EXPECT_NE(text.find(os), std::string::npos) << os;
    }
    FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(Stubs, StubResources, ::testing::Values("setup64", "setup64-nosplash"));

}  // namespace
