// The stub's Windows-free pieces, natively and under sanitizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/block_format.h"
#include "config/config_store.h"
#include "launcher/cmdline.h"
#include "launcher/expand_core.h"
#include "launcher/path_utils.h"
#include "log_stub.h"
#include "setup_builder.h"

namespace {

// ---- command-line splitting ------------------------------------------------

struct SplitCase {
    const wchar_t* text;
    std::vector<std::wstring> expected;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, Splits) {
    std::vector<std::wstring> args;
    splitCommandLine(GetParam().text, args);
    EXPECT_EQ(args, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SplitTest,
    ::testing::Values(
        SplitCase{L"", {}},
        SplitCase{L"a  b", {L"a", L"b"}},
        SplitCase{L"\"a b\"c d", {L"a b", L"c", L"d"}},
        SplitCase{L"prog.exe -Dx='a b'c", {L"prog.exe", L"-Dx=a b", L"c"}},
        SplitCase{L"\"unterminated rest", {L"unterminated rest"}},
        SplitCase{L"a \"\" b", {L"a", L"", L"b"}},
        SplitCase{L"\"it's\" x", {L"it's", L"x"}},
        SplitCase{L"'say \"hi\"' x", {L"say \"hi\"", L"x"}},
        SplitCase{L"a\tb c", {L"a\tb", L"c"}},
        SplitCase{L"  lead trail  ", {L"lead", L"trail"}},
        SplitCase{L"\"C:\\Program Files\\s.exe\" -q", {L"C:\\Program Files\\s.exe", L"-q"}},
        SplitCase{L"x=\"1 2\"\"3 4\"", {L"x=1 2", L"3 4"}},
        SplitCase{L"'", {L""}}));

// ---- path predicates ---------------------------------------------------------

TEST(PathUtils, IsRelativePath) {
    const struct {
        const char* path;
        bool relative;
    } cases[] = {
        {"", true},          {"ab", true},          {"c:\\x", false},  {"\\\\srv\\share", false},
        {"\\dir\\f", true},  {"c:name", true},      {"dir\\f", true},  {"\"c:\\x\"", false},
        {"\"ab", true},      {"\"\\\\srv\\s", false}, {"c:/x", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isRelativePath(c.path), c.relative) << c.path;
        std::wstring wide(c.path, c.path + std::strlen(c.path));
        EXPECT_EQ(isRelativePath(wide.c_str()), c.relative) << c.path;
    }
}

TEST(PathUtils, DriveRootForms) {
    const struct {
        const char* path;
        bool root;
    } cases[] = {
        {"c:\\", true}, {"d:\\.", true}, {"c:\\.\\.", true}, {"c:", false}, {"c:\\x", false},
        {"c:\\..", false}, {"", false}, {"c", false}, {"c:\\.\\", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isDriveRootForm(c.path), c.root) << c.path;
        std::wstring wide(c.path, c.path + std::strlen(c.path));
        EXPECT_EQ(isDriveRootForm(wide.c_str()), c.root) << c.path;
    }
}

TEST(PathUtils, CollapseBackslashes) {
    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"c:\\a\\\\b", L"c:\\a\\b"},
        {L"\\\\server\\\\share", L"\\\\server\\share"},
        {L"c:\\\\\\\\x\\\\\\", L"c:\\x\\"},
        {L"ab", L"ab"},
        {L"", L""},
        {L"\\\\\\x", L"\\\\x"},
    };
    for (const auto& c : cases) {
        std::wstring s = c.in;
        collapseBackslashes(s);
        EXPECT_EQ(s, c.out);
        std::vector<wchar_t> buffer(s.size() + std::wcslen(c.in) + 1);
        std::wcscpy(buffer.data(), c.in);
        collapseBackslashes(buffer.data());
        EXPECT_EQ(std::wstring(buffer.data()), c.out);
    }
}

TEST(PathUtils, NativeLibraryPathNeverTruncates) {
    std::string out = "untouched";
    EXPECT_TRUE(composeNativeLibraryPath("c:\\lib", "c:\\windows", 100, out));
    EXPECT_EQ(out, "c:\\lib;c:\\windows");
    EXPECT_TRUE(composeNativeLibraryPath("c:\\lib;", "p", 100, out));
    EXPECT_EQ(out, "c:\\lib;p");
    EXPECT_TRUE(composeNativeLibraryPath("", "p", 100, out));
    EXPECT_EQ(out, "p");
    // Exactly at the limit (terminator included) still fits; one more does not.
    std::string path(100 - 1 - 2, 'x');
    EXPECT_TRUE(composeNativeLibraryPath("a", path, 100, out));
    out = "untouched";
    EXPECT_FALSE(composeNativeLibraryPath("ab", path, 100, out));
    EXPECT_EQ(out, "untouched");
}

// ---- configuration accessors ---------------------------------------------------

class ConfigStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        configStore() = ConfigStore();
        loggedFormats().clear();
    }
    void TearDown() override { configStore() = ConfigStore(); }
};

TEST_F(ConfigStoreTest, LongSettingIsCutAndLogged) {
    configStore().settings[42] = std::string(7000, 'x');
    std::vector<char> buffer(6000, '\1');
    EXPECT_EQ(getSetting(42, buffer.data(), buffer.size()), 5999u);
    EXPECT_EQ(std::strlen(buffer.data()), 5999u);
    ASSERT_EQ(loggedFormats().size(), 1u);
    EXPECT_EQ(loggedFormats()[0], L"ERROR: config string %d truncated (%d %d)");
}

TEST_F(ConfigStoreTest, AbsentValuesReadEmpty) {
    char narrow[8] = "junk";
    wchar_t wide[6000] = L"junk";
    EXPECT_EQ(getSetting(7, narrow, sizeof(narrow)), 0u);
    EXPECT_STREQ(narrow, "");
    getSettingW(7, wide, 6000);
    EXPECT_EQ(wide[0], L'\0');
    std::wcscpy(wide, L"junk");
    getMessage(7, wide);
    EXPECT_EQ(wide[0], L'\0');
    EXPECT_EQ(getSettingInt(7), 0);
    EXPECT_EQ(getSettingColor(7), 0u);
    EXPECT_EQ(dupSetting(7), "");
}

TEST_F(ConfigStoreTest, SettingInt) {
    const struct {
        const char* text;
        long value;
    } cases[] = {{"12abc", 12}, {"abc", 0}, {"  -7", -7}, {"+3", 3}, {"", 0}, {"0x10", 0}, {"1", 1}};
    for (const auto& c : cases) {
        configStore().settings[1] = c.text;
        EXPECT_EQ(getSettingInt(1), c.value) << c.text;
    }
}

TEST_F(ConfigStoreTest, SettingColor) {
    const struct {
        const char* text;
        std::uint32_t value;
    } cases[] = {
        {"255,128,0", 0x0080FFu}, {"1,2,3", 0x030201u}, {"1,,2,,,3", 0x030201u},
        {"256,257,258", 0x020100u}, {"10,20,30,40", 0x1E140Au}, {",5,6,7", 0x070605u},
    };
    for (const auto& c : cases) {
        configStore().settings[1] = c.text;
        EXPECT_EQ(getSettingColor(1), c.value) << c.text;
    }
}

TEST_F(ConfigStoreTest, WideSettingWidensBytesAndStaysBounded) {
    configStore().settings[1] = "a\xE4z";
    wchar_t wide[4];
    getSettingW(1, wide, 4);
    EXPECT_EQ(std::wstring(wide), std::wstring(L"a\u00E4z"));
    wchar_t small[3];
    getSettingW(1, small, 3);
    EXPECT_EQ(std::wstring(small), L"a\u00E4");
}

// ---- variable expansion --------------------------------------------------------

ExpansionValues<wchar_t> sampleValues() {
    ExpansionValues<wchar_t> v;
    v.executableDirectory = L"C:\\app\\";
    v.extractionDirectory = L"";
    v.jvmHome = L"C:\\jre";
    v.tempDirectory = L"C:\\tmp\\";
    v.environment = {{L"Path", L"C:\\bin"}, {L"LOOP", L"${LOOP}"}, {L"HOME_A", L"${TARKO_EXEDIR}"}};
    return v;
}

TEST(Expansion, Substitutions) {
    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"${launcher:sys.launcherDirectory}lib", L"C:\\app\\lib"},
        {L"%TARKO_EXEDIR%a;%CORVALINE_EXEDIR%b", L"C:\\app\\a;C:\\app\\b"},
        {L"${TARKO_TEMPDIR}\\x", L"\\x"},
        {L"a${TARKO_PATHLIST_SEPARATOR}b%CORVALINE_PATHLIST_SEPARATOR%c", L"a;b;c"},
        {L"${launcher:sys.jvmHome}/${CORVALINE_JVM_HOME}", L"C:\\jre/C:\\jre"},
        {L"${launcher:sys.tempDir}", L"C:\\tmp\\"},
        {L"${Path}|${PATH}|${path}", L"C:\\bin|C:\\bin|${path}"},
        {L"${unknown}", L"${unknown}"},
        {L"${LOOP}", L"${LOOP}"},
        // Environment values are not expanded again by built-ins (those ran first).
        {L"${HOME_A}", L"${TARKO_EXEDIR}"},
        {L"plain text", L"plain text"},
    };
    for (const auto& c : cases) {
        std::wstring text = c.in;
        expandWithValues(text, sampleValues());
        EXPECT_EQ(text, c.out) << std::string(c.in, c.in + std::wcslen(c.in));
    }
}

TEST(Expansion, PlainTextLogsNothing) {
    loggedFormats().clear();
    std::wstring text = L"nothing here";
    expandWithValues(text, sampleValues());
    EXPECT_TRUE(loggedFormats().empty());
}

TEST(Expansion, NarrowLogsEachSubstitution) {
    ExpansionValues<char> v;
    v.executableDirectory = "C:\\app\\";
    v.tempDirectory = "C:\\tmp\\";
    v.environment = {{"X", "1"}};
    loggedFormats().clear();
    std::string text = "${X}${X}%TARKO_EXEDIR%";
    expandWithValues(text, v);
    EXPECT_EQ(text, "11C:\\app\\");
    ASSERT_EQ(loggedFormats().size(), 3u);
    EXPECT_EQ(loggedFormats()[0], L"expanding2 %S to %S in %S.");
}

TEST(Expansion, EnvironmentBlockParsing) {
    const wchar_t block[] = L"=C:=C:\\dir\0A=1\0B=x=y\0NOEQ\0\0";
    auto entries = parseEnvironmentBlock(block);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].first, L"=C:");
    EXPECT_EQ(entries[1], (std::pair<std::wstring, std::wstring>(L"A", L"1")));
    EXPECT_EQ(entries[2], (std::pair<std::wstring, std::wstring>(L"B", L"x=y")));
}

// ---- configuration block -----------------------------------------------------------

struct MemorySource {
    std::vector<std::uint8_t> bytes;
    std::uint64_t at = 0;
};

bool memoryRead(void* context, void* buffer, std::uint32_t size, std::uint32_t* got) {
    auto* m = static_cast<MemorySource*>(context);
    std::uint64_t left = m->at < m->bytes.size() ? m->bytes.size() - m->at : 0;
    std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, size));
    if (n) std::memcpy(buffer, m->bytes.data() + m->at, n);
    m->at += n;
    *got = n;
    return true;
}

bool memorySeek(void* context, std::uint32_t position) {
    static_cast<MemorySource*>(context)->at = position;
    return true;
}

ByteSource sourceOver(MemorySource& m) {
    ByteSource s;
    s.context = &m;
    s.read = memoryRead;
    s.seek = memorySeek;
    s.size = m.bytes.size();
    return s;
}

mksetup::SetupDescription sampleDescription() {
    mksetup::SetupDescription d;
    d.settings = {{107, "1"}, {2001, "e"}, {5, "first"}, {5, "second"}};
    d.messages = {{1000, u"Caption"}, {1001, u"base"}, {1002, u"base2"}};
    d.groups = {{"de", {{1001, u"de"}, {1002, u"de2"}}}, {"de_CH", {{1001, u"de_CH"}}}};
    d.files = {{"a.txt", {'h', 'i'}}};
    return d;
}

BlockError parseWithCode(const std::vector<std::uint8_t>& bytes, ConfigStore& store,
                         const std::string& code) {
    MemorySource m{bytes};
    ByteSource s = sourceOver(m);
    return parseConfigBlock(s, store, [&] { return code; });
}

TEST(ConfigBlock, ReadsSettingsMessagesAndGroups) {
    auto bytes = mksetup::buildAppendedData(sampleDescription());
    ConfigStore store;
    ASSERT_EQ(parseWithCode(bytes, store, "de_CH"), BlockError::None);
    EXPECT_EQ(store.settings[5], "second");  // a repeated id keeps the later entry
    EXPECT_EQ(store.settings[2002], "1");
    EXPECT_EQ(store.settings[2003], "a.txt");
    EXPECT_EQ(store.messages[1000], L"Caption");
    EXPECT_EQ(store.messages[1001], L"de_CH");
    EXPECT_EQ(store.messages[1002], L"de2");
    // The payload starts right behind the groups: its first entry is 2 bytes long.
    ASSERT_LT(store.payloadOffset + 8u, bytes.size());
    EXPECT_EQ(bytes[store.payloadOffset], 2);

    ASSERT_EQ(parseWithCode(bytes, store, "de_DE"), BlockError::None);
    EXPECT_EQ(store.messages[1001], L"de");
    ASSERT_EQ(parseWithCode(bytes, store, "en_US"), BlockError::None);
    EXPECT_EQ(store.messages[1001], L"base");
}

TEST(ConfigBlock, EmptyBlockIsValid) {
    auto bytes = mksetup::buildAppendedData(mksetup::SetupDescription());
    ConfigStore store;
    ASSERT_EQ(parseWithCode(bytes, store, "en"), BlockError::None);
    EXPECT_TRUE(store.messages.empty());
}

TEST(ConfigBlock, FixedErrors) {
    ConfigStore store;
    EXPECT_EQ(parseWithCode({}, store, "en"), BlockError::ReadInt);
    EXPECT_EQ(parseWithCode({1, 2, 3, 4, 0, 0, 0, 0}, store, "en"), BlockError::Magic);
    auto bytes = mksetup::buildAppendedData(sampleDescription());
    // Header (20) + count (4) + id (4) + length (4) + 1 byte of "1": inside the first string.
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 20 + 4 + 4 + 4);
    EXPECT_EQ(parseWithCode(cut, store, "en"), BlockError::ReadString);
    EXPECT_STREQ(blockErrorText(BlockError::ReadString), L"Internal Error: readString");
    EXPECT_STREQ(blockErrorText(BlockError::Magic), L"Internal Error: magic");
}

// Hostile lengths must fail cleanly instead of allocating or overrunning.
TEST(ConfigBlock, HostileLengths) {
    const std::int32_t lengths[] = {-1, -2147483647 - 1, 2147483647, 1000000, 3};
    for (std::int32_t length : lengths) {
        for (bool wide : {false, true}) {
            std::vector<std::uint8_t> b = {0xD5, 0x13, 0xE4, 0xE8, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0,    0,    0,    0,    0, 0, 0, 0};
            auto put = [&b](std::int32_t v) {
                for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
            };
            put(wide ? 0 : 1);
            if (wide) put(1);
            put(1000);
            put(length);
            b.push_back('x');
            b.push_back('y');
            if (!wide) put(0);
            put(0);
            ConfigStore store;
            BlockError e = parseWithCode(b, store, "en");
            if (length == 3) {
                // Fits nowhere: 2 bytes of text follow, then the counts.
                EXPECT_NE(e, BlockError::None);
            } else {
                EXPECT_EQ(e, wide ? BlockError::ReadWString : BlockError::ReadString) << length;
            }
        }
    }
}

TEST(ConfigBlock, TruncatedAtEveryOffsetFailsCleanly) {
    auto bytes = mksetup::buildAppendedData(sampleDescription());
    ConfigStore complete;
    ASSERT_EQ(parseWithCode(bytes, complete, "de"), BlockError::None);
    for (std::size_t n = 0; n < complete.payloadOffset; ++n) {
        std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        ConfigStore store;
        EXPECT_NE(parseWithCode(cut, store, "de"), BlockError::None) << "cut at " << n;
    }
}

TEST(ConfigBlock, FindsAppendedDataThroughPeHeaders) {
    // A minimal image: PE header at 0x40, 2 sections, optional header of 0xF0
    // bytes; the last section's raw data ends at 0x400.
    std::vector<std::uint8_t> image(0x400, 0);
    auto put32 = [&image](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    image[0] = 'M';
    image[1] = 'Z';
    put32(60, 0x40);
    image[0x46] = 2;
    image[0x54] = 0xF0;
    std::size_t last = 0x40 + 24 + 0xF0 + 40;
    put32(last + 16, 0x200);
    put32(last + 20, 0x200);
    MemorySource m{image};
    ByteSource s = sourceOver(m);
    loggedFormats().clear();
    ASSERT_EQ(seekToAppendedData(s), BlockError::None);
    EXPECT_EQ(m.at, 0x400u);
    EXPECT_EQ(loggedFormats().front(), L"number of sections: %d");

    // Headers pointing outside the file end in a read error, not a crash.
    put32(60, 0x7FFFFFF0);
    MemorySource bad{image};
    ByteSource t = sourceOver(bad);
    EXPECT_NE(seekToAppendedData(t), BlockError::None);
}

}  // namespace
