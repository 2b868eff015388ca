// Shared pieces of the end-to-end tests: setup programs built from a stub
// with the builder, run under Wine through the harness.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "setup_builder.h"

namespace e2e {

// A windowed installer with a caption message, as a builder would write it.
inline mksetup::SetupDescription baseDescription() {
    mksetup::SetupDescription d;
    d.settings = {{107, "1"}, {2001, "i"}};
    d.messages = {{1000, u"Setup Error"},
                  {1009, u"Internal error {0} happened."},
                  {1015, u"No temporary directory."}};
    return d;
}

// A setup program in its own directory, removed with the test.
struct SetupProgram {
    harness::TempDir dir{L"e2e"};
    std::wstring exe;
};

inline void makeSetup(SetupProgram& setup, const mksetup::SetupDescription& description,
                      const std::string& stub = "setup64", const std::wstring& name = L"setup.exe") {
    setup.exe = harness::buildSetup(stub, description, setup.dir.file(name));
}

// The stub with raw bytes behind it instead of a well-formed block.
inline void makeRawSetup(SetupProgram& setup, const std::vector<std::uint8_t>& appended,
                         const std::string& stub = "setup64") {
    auto bytes = harness::readFileBytes(harness::stubPath(stub));
    bytes.insert(bytes.end(), appended.begin(), appended.end());
    setup.exe = setup.dir.file(L"setup.exe");
    harness::writeFileBytes(setup.exe, bytes);
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

inline bool hasLine(const std::string& text, const std::string& wanted) {
    auto all = lines(text);
    return std::find(all.begin(), all.end(), wanted) != all.end();
}

inline bool hasLineStartingWith(const std::string& text, const std::string& prefix) {
    for (const auto& l : lines(text)) {
        if (l.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

// Keeps the log after a normal run, so the test can read it.
inline harness::RunOptions keepLog(std::vector<std::wstring> args = {}) {
    harness::RunOptions o;
    o.args = std::move(args);
    o.env[L"TARKO_LOG"] = std::wstring(L"yes");
    o.timeoutMs = 30000;
    return o;
}

// What a message box showed before the test pressed its button.
struct SeenDialog {
    bool seen = false;
    std::wstring caption;
    std::wstring text;
    std::vector<std::wstring> buttons;
};

// Waits for the program's dialog, records it and presses `button`.
inline std::function<void(unsigned long)> answerDialog(SeenDialog& seen, const std::wstring& button,
                                                       unsigned timeoutMs = 20000) {
    return [&seen, button, timeoutMs](unsigned long pid) {
        auto dialog = harness::waitForDialog(pid, timeoutMs);
        if (!dialog) return;
        seen.seen = true;
        seen.caption = dialog->caption;
        seen.text = dialog->text;
        seen.buttons = dialog->buttons;
        harness::pressButton(*dialog, button);
    };
}

}  // namespace e2e
