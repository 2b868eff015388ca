#include "launcher/path_utils.h"

#include <cstring>
#include <cwchar>

namespace {

template <class Ch>
std::size_t length(const Ch* s) {
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}

template <class Ch>
bool relative(const Ch* path) {
    if (length(path) < 3) return true;
    if (path[0] == '"') {
        ++path;
        if (length(path) < 3) return true;
    }
    if (path[1] == ':' && path[2] == '\\') return false;
    if (path[0] == '\\' && path[1] == '\\') return false;
    return true;
}

template <class Ch>
bool driveRoot(const Ch* path) {
    if (length(path) < 2) return false;
    const Ch* rest = path + 1;
    static const char* const forms[] = {":\\", ":\\.", ":\\.\\."};
    for (const char* form : forms) {
        std::size_t i = 0;
        while (form[i] && rest[i] == static_cast<Ch>(form[i])) ++i;
        if (!form[i] && !rest[i]) return true;
    }
    return false;
}

}  // namespace

bool isRelativePath(const char* path) { return relative(path); }
bool isRelativePath(const wchar_t* path) { return relative(path); }
bool isDriveRootForm(const char* path) { return driveRoot(path); }
bool isDriveRootForm(const wchar_t* path) { return driveRoot(path); }

void collapseBackslashes(std::wstring& path) {
    if (path.size() <= 2) return;
    std::wstring out = path.substr(0, 2);
    for (std::size_t i = 2; i < path.size(); ++i) {
        if (path[i] == L'\\' && out.back() == L'\\' && out.size() >= 2) continue;
        out.push_back(path[i]);
    }
    path.swap(out);
}

void collapseBackslashes(wchar_t* path) {
    std::wstring text(path);
    collapseBackslashes(text);
    std::wmemcpy(path, text.c_str(), text.size() + 1);  // never longer than the input
}

void lowerAsciiLetters(wchar_t* path) {
    for (; *path; ++path) {
        if (*path >= L'A' && *path <= L'Z') *path = static_cast<wchar_t>(*path - L'A' + L'a');
    }
}

bool composeNativeLibraryPath(const std::string& directories, const std::string& currentPath,
                              std::size_t limit, std::string& out) {
    std::string value = directories;
    if (!value.empty() && value.back() != ';') value += ';';
    value += currentPath;
    if (value.size() + 1 > limit) return false;
    out = value;
    return true;
}

