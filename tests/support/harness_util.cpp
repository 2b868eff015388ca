// Strings, files, paths, temporary directories and building setup programs.
#include "harness.h"
#include "harness_internal.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

#ifndef HARNESS_BUILD_DIR
#error "HARNESS_BUILD_DIR must be defined by the build"
#endif
#ifndef HARNESS_SOURCE_DIR
#error "HARNESS_SOURCE_DIR must be defined by the build"
#endif
#ifndef HARNESS_STUB_DIR
#error "HARNESS_STUB_DIR must be defined by the build"
#endif
#ifndef HARNESS_LOCALE_SPAWN
#error "HARNESS_LOCALE_SPAWN must be defined by the build"
#endif

namespace harness {

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

std::wstring fromUtf8(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::vector<std::uint8_t> readFileBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot open " + toUtf8(path) + ": " + detail::errorText(GetLastError()));
    }
    detail::Handle guard(h);
    std::vector<std::uint8_t> data;
    std::uint8_t buf[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) {
            throw std::runtime_error("cannot read " + toUtf8(path) + ": " + detail::errorText(GetLastError()));
        }
        if (got == 0) break;
        data.insert(data.end(), buf, buf + got);
    }
    return data;
}

std::string readFileUtf8(const std::wstring& path) {
    std::vector<std::uint8_t> data = readFileBytes(path);
    size_t skip = (data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) ? 3 : 0;
    return std::string(data.begin() + static_cast<std::ptrdiff_t>(skip), data.end());
}

void writeFileBytes(const std::wstring& path, const std::vector<std::uint8_t>& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot create " + toUtf8(path) + ": " + detail::errorText(GetLastError()));
    }
    detail::Handle guard(h);
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(h, data.data() + done, chunk, &written, nullptr) || written == 0) {
            throw std::runtime_error("cannot write " + toUtf8(path) + ": " + detail::errorText(GetLastError()));
        }
        done += written;
    }
}

void writeFileUtf8(const std::wstring& path, const std::string& text) {
    writeFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

bool fileExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directoryExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

bool removeTreeOnce(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                removeTreeOnce(child);
            } else {
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveDirectoryW(child.c_str());
                } else {
                    DeleteFileW(child.c_str());
                }
            }
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool removeTree(const std::wstring& path) {
    if (path.size() < 4) return false;  // never "C:\" or similar
    // A program that just exited may still hold a file for a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (removeTreeOnce(path)) return true;
        Sleep(100);
    }
    return false;
}

std::wstring windowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return fromUtf8(path);
    std::wstring w = L"Z:" + fromUtf8(path);
    for (wchar_t& c : w) {
        if (c == L'/') c = L'\\';
    }
    return w;
}

std::wstring buildDir() { return windowsPath(HARNESS_BUILD_DIR); }
std::wstring sourceDir() { return windowsPath(HARNESS_SOURCE_DIR); }

std::wstring stubPath(const std::string& name) {
    std::string file = name;
    if (file.size() < 4 || file.compare(file.size() - 4, 4, ".exe") != 0) file += ".exe";
    return windowsPath(HARNESS_STUB_DIR) + L"\\" + fromUtf8(file);
}

namespace detail {

std::string errorText(unsigned long code) {
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring text = n ? std::wstring(buf, n) : std::wstring();
    if (buf) LocalFree(buf);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return "error " + std::to_string(code) + (text.empty() ? "" : " (" + toUtf8(text) + ")");
}

std::wstring makeUniqueDirectory(const std::wstring& parent, const std::wstring& prefix) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        wchar_t name[96];
        swprintf(name, 96, L"%ls%lu-%u-%llx", prefix.c_str(), GetCurrentProcessId(), counter.fetch_add(1),
                 static_cast<unsigned long long>(GetTickCount64()));
        std::wstring path = parent + L"\\" + name;
        if (CreateDirectoryW(path.c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot create a directory in " + toUtf8(parent) + ": " +
                                     errorText(GetLastError()));
        }
    }
    throw std::runtime_error("cannot find a free directory name in " + toUtf8(parent));
}

std::wstring windowsTempDir() {
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("GetTempPathW failed");
    std::wstring dir(buf, n);
    while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
    return dir;
}

std::wstring localeSpawnPath() { return windowsPath(HARNESS_LOCALE_SPAWN); }

bool keepTemp() { return GetEnvironmentVariableW(L"HARNESS_KEEP_TEMP", nullptr, 0) != 0; }

}  // namespace detail

TempDir::TempDir(const std::wstring& prefix)
    : path_(detail::makeUniqueDirectory(detail::windowsTempDir(), prefix)) {}

TempDir::TempDir(TempDir&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }

TempDir::~TempDir() {
    if (!path_.empty() && !detail::keepTemp()) removeTree(path_);
}

std::wstring buildSetup(const std::string& stub, const mksetup::SetupDescription& description,
                        const std::wstring& outPath) {
    bool isPath = stub.find_first_of("/\\:") != std::string::npos;
    std::wstring stubFile = isPath ? windowsPath(stub) : stubPath(stub);
    std::vector<std::uint8_t> stubBytes;
    try {
        stubBytes = readFileBytes(stubFile);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("buildSetup: cannot read the stub: ") + e.what());
    }
    std::string error;
    std::optional<mksetup::Bytes> setup = mksetup::buildSetup(stubBytes, description, &error);
    if (!setup) throw std::runtime_error("buildSetup: " + toUtf8(stubFile) + ": " + error);

    // Written beside the target and renamed, so a failed run never leaves half a file.
    std::wstring temp = outPath + L".part";
    try {
        writeFileBytes(temp, *setup);
    } catch (const std::exception& e) {
        DeleteFileW(temp.c_str());
        throw std::runtime_error(std::string("buildSetup: ") + e.what());
    }
    if (!MoveFileExW(temp.c_str(), outPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD code = GetLastError();
        DeleteFileW(temp.c_str());
        throw std::runtime_error("buildSetup: cannot write " + toUtf8(outPath) + ": " +
                                 detail::errorText(code));
    }
    return outPath;
}

}  // namespace harness
