// Pieces shared by the harness's source files (not for tests).
#pragma once

#include <windows.h>

#include <string>

namespace harness::detail {

// Closes a Windows handle (NULL and INVALID_HANDLE_VALUE are ignored).
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = o.h_;
            o.h_ = nullptr;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr) {
        if (valid()) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};

// "error 2 (The system cannot find the file specified.)"
std::string errorText(unsigned long code);
// Creates parent\<prefix><pid>-<n>-<tick>; throws when it cannot.
std::wstring makeUniqueDirectory(const std::wstring& parent, const std::wstring& prefix);
// GetTempPathW without the trailing backslash.
std::wstring windowsTempDir();
// HARNESS_KEEP_TEMP is set: leave temporary directories behind for inspection.
bool keepTemp();
// Path of the harness_locale_spawn helper.
std::wstring localeSpawnPath();

}  // namespace harness::detail
