// Damaged configuration blocks: each ends in its fixed message, shown in a
// message box even in quiet mode (the switches are not read yet), with exit
// code 1 and the log kept.
#include "e2e_common.h"

namespace {

std::vector<std::uint8_t> le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::vector<std::uint8_t> header() {
    std::vector<std::uint8_t> b = le32(0xE8E413D5u);
    for (int i = 0; i < 16; ++i) b.push_back(0);
    return b;
}

void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

struct Outcome {
    int exitCode = -1;
    bool boxSeen = false;
    std::wstring caption;
    std::wstring text;
    harness::RunResult result;
};

Outcome runDamaged(const e2e::SetupProgram& setup) {
    Outcome out;
    e2e::SeenDialog seen;
    harness::RunOptions o;
    o.args = {L"-q"};
    o.timeoutMs = 30000;
    o.whileRunning = [&seen](unsigned long pid) {
        // A valid start shows nothing; do not wait long for it.
        auto dialog = harness::waitForDialog(pid, 15000);
        if (!dialog) return;
        seen.seen = true;
        seen.caption = dialog->caption;
        seen.text = dialog->text;
        harness::pressButton(*dialog, L"OK");
    };
    out.result = harness::runProgram(setup.exe, o);
    out.exitCode = out.result.exitCode;
    out.boxSeen = seen.seen;
    out.caption = seen.caption;
    out.text = seen.text;
    return out;
}

std::vector<std::uint8_t> stringRecord(std::int32_t id, const std::string& text) {
    std::vector<std::uint8_t> b = le32(static_cast<std::uint32_t>(id));
    append(b, le32(static_cast<std::uint32_t>(text.size())));
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

TEST(DamagedBlock, FixedTexts) {
    std::vector<std::uint8_t> cutInString = header();
    append(cutInString, le32(1));
    append(cutInString, le32(2001));
    append(cutInString, le32(10));
    append(cutInString, {'a', 'b'});

    std::vector<std::uint8_t> cutInWide = header();
    append(cutInWide, le32(0));
    append(cutInWide, le32(1));
    append(cutInWide, le32(1000));
    append(cutInWide, le32(8));
    append(cutInWide, {'E', 0});

    std::vector<std::uint8_t> negativeLength = header();
    append(negativeLength, le32(1));
    append(negativeLength, le32(5));
    append(negativeLength, le32(0xFFFFFFFFu));

    std::vector<std::uint8_t> hugeLength = header();
    append(hugeLength, le32(1));
    append(hugeLength, le32(5));
    append(hugeLength, le32(0x7FFFFFFFu));
    append(hugeLength, {'x'});

    const struct {
        const char* name;
        std::vector<std::uint8_t> appended;
        const wchar_t* text;
    } cases[] = {
        {"no appended data", {}, L"Internal Error: readInt"},
        {"wrong magic", {1, 2, 3, 4, 5, 6, 7, 8}, L"Internal Error: magic"},
        {"magic only", le32(0xE8E413D5u), L"Internal Error: readInt"},
        {"header cut in the length", {0xD5, 0x13, 0xE4, 0xE8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2}, L"Internal Error: readLong"},
        {"cut inside a setting", cutInString, L"Internal Error: readString"},
        {"cut inside a message", cutInWide, L"Internal Error: readWString"},
        {"negative string length", negativeLength, L"Internal Error: readString"},
        {"string longer than the file", hugeLength, L"Internal Error: readString"},
    };
    for (const auto& c : cases) {
        e2e::SetupProgram setup;
        e2e::makeRawSetup(setup, c.appended);
        Outcome o = runDamaged(setup);
        EXPECT_EQ(o.exitCode, 1) << c.name;
        ASSERT_TRUE(o.boxSeen) << c.name;
        // Nothing is configured yet: no caption message exists.
        EXPECT_EQ(o.caption, L"") << c.name;
        ASSERT_EQ(o.result.logFiles.size(), 1u) << c.name;
        std::wstring expected = std::wstring(c.text) + L"\n\nLog: " + o.result.logFiles[0];
        EXPECT_EQ(_wcsicmp(o.text.c_str(), expected.c_str()), 0)
            << c.name << ": " << harness::toUtf8(o.text);
        EXPECT_EQ(o.result.err, "") << c.name;
    }
}

TEST(DamagedBlock, TruncatedAtEveryOffset) {
    mksetup::SetupDescription d;
    d.checkFlag = false;
    d.settings = {{2001, "i"}};
    d.messages = {{1000, u"E"}};
    d.groups = {{"en", {{1000, u"F"}}}};
    auto block = mksetup::buildAppendedData(d);
    const std::wstring texts[] = {L"Internal Error: readInt", L"Internal Error: readLong",
                                  L"Internal Error: readString", L"Internal Error: readWString",
                                  L"Internal Error: magic"};
    for (std::size_t n = 0; n <= block.size(); ++n) {
        e2e::SetupProgram setup;
        e2e::makeRawSetup(setup, {block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n)});
        Outcome o = runDamaged(setup);
        ASSERT_FALSE(o.result.timedOut) << "cut at " << n;
        if (n == block.size()) {
            EXPECT_EQ(o.exitCode, 0);
            EXPECT_FALSE(o.boxSeen);
            continue;
        }
        EXPECT_EQ(o.exitCode, 1) << "cut at " << n;
        ASSERT_TRUE(o.boxSeen) << "cut at " << n;
        bool known = false;
        for (const auto& t : texts) known = known || o.text.rfind(t + L"\n\nLog: ", 0) == 0;
        EXPECT_TRUE(known) << "cut at " << n << ": " << harness::toUtf8(o.text);
    }
}

}  // namespace
