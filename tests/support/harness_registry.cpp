// RegistryFixture: registry state for one test, undone afterwards.
#include "harness.h"
#include "harness_internal.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace harness {

namespace {

HKEY rootKey(RegRoot root) { return root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

REGSAM viewFlag(RegView view) {
    switch (view) {
    case RegView::Bits64: return KEY_WOW64_64KEY;
    case RegView::Bits32: return KEY_WOW64_32KEY;
    default: return 0;
    }
}

std::string describe(RegRoot root, const std::wstring& path, RegView view) {
    std::string s = root == RegRoot::CurrentUser ? "HKCU\\" : "HKLM\\";
    s += toUtf8(path);
    if (view == RegView::Bits32) s += " (32-bit view)";
    if (view == RegView::Bits64) s += " (64-bit view)";
    return s;
}

class Key {
public:
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

bool openKey(RegRoot root, const std::wstring& path, RegView view, REGSAM access, Key& key) {
    return RegOpenKeyExW(rootKey(root), path.c_str(), 0, access | viewFlag(view), key.out()) == ERROR_SUCCESS;
}

std::vector<std::wstring> components(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool deleteTreeAt(RegRoot root, const std::wstring& path, RegView view) {
    {
        Key key;
        LONG rc = RegOpenKeyExW(rootKey(root), path.c_str(), 0, KEY_READ | viewFlag(view), key.out());
        if (rc == ERROR_FILE_NOT_FOUND) return true;
        if (rc != ERROR_SUCCESS) return false;
        // Collect first: deleting while enumerating shifts the indexes.
        std::vector<std::wstring> children;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD len = 256;
            if (RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            children.emplace_back(name, len);
        }
        for (const std::wstring& child : children) deleteTreeAt(root, path + L"\\" + child, view);
    }
    LONG rc = RegDeleteKeyExW(rootKey(root), path.c_str(), viewFlag(view), 0);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool sameKey(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// `path` equals `ancestor` or lies below it.
bool isWithin(const std::wstring& path, const std::wstring& ancestor) {
    if (path.size() < ancestor.size()) return false;
    if (!sameKey(path.substr(0, ancestor.size()), ancestor)) return false;
    return path.size() == ancestor.size() || path[ancestor.size()] == L'\\';
}

RegValue stringValue(unsigned long type, const std::wstring& s) {
    RegValue v;
    v.type = type;
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.c_str());
    v.data.assign(p, p + (s.size() + 1) * sizeof(wchar_t));
    return v;
}

}  // namespace

RegistryFixture::~RegistryFixture() { cleanup(); }

bool RegistryFixture::createdByUs(RegRoot root, const std::wstring& path, RegView view) const {
    for (const KeyRef& k : createdKeys_) {
        if (k.root == root && k.view == view && isWithin(path, k.path)) return true;
    }
    return false;
}

void RegistryFixture::ensureKey(RegRoot root, const std::wstring& path, RegView view) {
    // Remember the topmost key that did not exist yet: deleting it removes all we added.
    std::vector<std::wstring> parts = components(path);
    if (parts.empty()) throw std::runtime_error("RegistryFixture: empty key path");
    std::wstring prefix;
    bool recorded = false;
    for (const std::wstring& part : parts) {
        prefix += (prefix.empty() ? L"" : L"\\") + part;
        if (!recorded && !keyExists(root, prefix, view)) {
            if (!createdByUs(root, prefix, view)) createdKeys_.push_back({root, prefix, view});
            recorded = true;
        }
    }
    Key key;
    LONG rc = RegCreateKeyExW(rootKey(root), path.c_str(), 0, nullptr, 0, KEY_WRITE | viewFlag(view), nullptr,
                              key.out(), nullptr);
    if (rc != ERROR_SUCCESS) {
        throw std::runtime_error("RegistryFixture: cannot create " + describe(root, path, view) + ": " +
                                 detail::errorText(static_cast<unsigned long>(rc)));
    }
}

void RegistryFixture::createKey(RegRoot root, const std::wstring& path, RegView view) { ensureKey(root, path, view); }

void RegistryFixture::setValue(RegRoot root, const std::wstring& path, const std::wstring& name,
                               const RegValue& value, RegView view) {
    bool keyExisted = keyExists(root, path, view);
    if (keyExisted && !createdByUs(root, path, view)) {
        bool alreadySaved = std::any_of(savedValues_.begin(), savedValues_.end(), [&](const SavedValue& s) {
            return s.key.root == root && s.key.view == view && sameKey(s.key.path, path) && sameKey(s.name, name);
        });
        if (!alreadySaved) savedValues_.push_back({{root, path, view}, name, readValue(root, path, name, view)});
    }
    ensureKey(root, path, view);
    Key key;
    if (!openKey(root, path, view, KEY_SET_VALUE, key)) {
        throw std::runtime_error("RegistryFixture: cannot open " + describe(root, path, view));
    }
    LONG rc = RegSetValueExW(key.get(), name.c_str(), 0, value.type, value.data.data(),
                             static_cast<DWORD>(value.data.size()));
    if (rc != ERROR_SUCCESS) {
        throw std::runtime_error("RegistryFixture: cannot set " + describe(root, path, view) + "\\" + toUtf8(name) +
                                 ": " + detail::errorText(static_cast<unsigned long>(rc)));
    }
}

void RegistryFixture::setString(RegRoot root, const std::wstring& path, const std::wstring& name,
                                const std::wstring& value, RegView view) {
    setValue(root, path, name, stringValue(REG_SZ, value), view);
}

void RegistryFixture::setExpandString(RegRoot root, const std::wstring& path, const std::wstring& name,
                                      const std::wstring& value, RegView view) {
    setValue(root, path, name, stringValue(REG_EXPAND_SZ, value), view);
}

void RegistryFixture::setMultiString(RegRoot root, const std::wstring& path, const std::wstring& name,
                                     const std::vector<std::wstring>& value, RegView view) {
    std::wstring joined;
    for (const std::wstring& s : value) {
        joined += s;
        joined += L'\0';
    }
    // stringValue adds the final terminator: "a\0b\0" + "\0".
    setValue(root, path, name, stringValue(REG_MULTI_SZ, joined), view);
}

void RegistryFixture::setDword(RegRoot root, const std::wstring& path, const std::wstring& name, std::uint32_t value,
                               RegView view) {
    RegValue v;
    v.type = REG_DWORD;
    v.data.resize(4);
    std::memcpy(v.data.data(), &value, 4);
    setValue(root, path, name, v, view);
}

void RegistryFixture::setQword(RegRoot root, const std::wstring& path, const std::wstring& name, std::uint64_t value,
                               RegView view) {
    RegValue v;
    v.type = REG_QWORD;
    v.data.resize(8);
    std::memcpy(v.data.data(), &value, 8);
    setValue(root, path, name, v, view);
}

void RegistryFixture::removeOnTeardown(RegRoot root, const std::wstring& path, RegView view) {
    if (!createdByUs(root, path, view)) createdKeys_.push_back({root, path, view});
}

bool RegistryFixture::cleanup() {
    bool ok = true;
    // Newest first: a value restored into a key that is later deleted does no harm.
    for (auto it = savedValues_.rbegin(); it != savedValues_.rend(); ++it) {
        Key key;
        if (!openKey(it->key.root, it->key.path, it->key.view, KEY_SET_VALUE, key)) continue;  // key gone
        LONG rc = it->previous
                      ? RegSetValueExW(key.get(), it->name.c_str(), 0, it->previous->type, it->previous->data.data(),
                                       static_cast<DWORD>(it->previous->data.size()))
                      : RegDeleteValueW(key.get(), it->name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) ok = false;
    }
    savedValues_.clear();
    for (auto it = createdKeys_.rbegin(); it != createdKeys_.rend(); ++it) {
        if (!deleteTreeAt(it->root, it->path, it->view)) ok = false;
    }
    createdKeys_.clear();
    return ok;
}

bool RegistryFixture::keyExists(RegRoot root, const std::wstring& path, RegView view) {
    Key key;
    return openKey(root, path, view, KEY_QUERY_VALUE, key);
}

std::optional<RegValue> RegistryFixture::readValue(RegRoot root, const std::wstring& path, const std::wstring& name,
                                                   RegView view) {
    Key key;
    if (!openKey(root, path, view, KEY_QUERY_VALUE, key)) return std::nullopt;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        RegValue v;
        v.type = type;
        v.data.resize(size);
        LONG rc = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, v.data.empty() ? nullptr : v.data.data(),
                                   &size);
        if (rc == ERROR_MORE_DATA) continue;  // changed in between
        if (rc != ERROR_SUCCESS) return std::nullopt;
        v.type = type;
        v.data.resize(size);
        return v;
    }
    return std::nullopt;
}

std::optional<std::wstring> RegistryFixture::readString(RegRoot root, const std::wstring& path,
                                                        const std::wstring& name, RegView view) {
    std::optional<RegValue> v = readValue(root, path, name, view);
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) return std::nullopt;
    std::wstring s(reinterpret_cast<const wchar_t*>(v->data.data()), v->data.size() / sizeof(wchar_t));
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    return s;
}

std::optional<std::uint32_t> RegistryFixture::readDword(RegRoot root, const std::wstring& path,
                                                        const std::wstring& name, RegView view) {
    std::optional<RegValue> v = readValue(root, path, name, view);
    if (!v || v->type != REG_DWORD || v->data.size() != 4) return std::nullopt;
    std::uint32_t value = 0;
    std::memcpy(&value, v->data.data(), 4);
    return value;
}

std::optional<std::vector<std::wstring>> RegistryFixture::readMultiString(RegRoot root, const std::wstring& path,
                                                                          const std::wstring& name, RegView view) {
    std::optional<RegValue> v = readValue(root, path, name, view);
    if (!v || v->type != REG_MULTI_SZ) return std::nullopt;
    std::wstring all(reinterpret_cast<const wchar_t*>(v->data.data()), v->data.size() / sizeof(wchar_t));
    std::vector<std::wstring> items;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(L'\0', start);
        if (end == std::wstring::npos) end = all.size();
        if (end == start) break;  // the empty string ends the list
        items.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::vector<std::wstring> RegistryFixture::subKeys(RegRoot root, const std::wstring& path, RegView view) {
    std::vector<std::wstring> names;
    Key key;
    if (!openKey(root, path, view, KEY_ENUMERATE_SUB_KEYS, key)) return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    return names;
}

std::vector<std::wstring> RegistryFixture::valueNames(RegRoot root, const std::wstring& path, RegView view) {
    std::vector<std::wstring> names;
    Key key;
    if (!openKey(root, path, view, KEY_QUERY_VALUE, key)) return names;
    wchar_t name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD len = 16384;
        if (RegEnumValueW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    return names;
}

bool RegistryFixture::deleteTree(RegRoot root, const std::wstring& path, RegView view) {
    if (components(path).empty()) return false;  // never a whole root
    return deleteTreeAt(root, path, view);
}

}  // namespace harness
