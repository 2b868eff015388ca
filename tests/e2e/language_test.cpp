// Language choice from the user-interface language (Wine takes it from the
// locale of the child's environment) and the message override groups.
#include "e2e_common.h"

namespace {

mksetup::SetupDescription groupedDescription() {
    auto d = e2e::baseDescription();
    d.messages.push_back({1001, u"base 1001"});
    d.messages.push_back({1002, u"base 1002"});
    d.messages.push_back({1003, u"base 1003"});
    d.groups = {
        {"de", {{1001, u"de 1001"}, {1002, u"de 1002"}}},
        {"de_DE", {{1002, u"de_DE 1002"}}},
        {"de_CH", {{1001, u"de_CH 1001"}}},
        {"", {{1003, u"all 1003"}}},
        {"ja", {{1001, u"\u65E5\u672C 1001"}}},
    };
    return d;
}

harness::RunResult runIn(const std::wstring& exe, const wchar_t* locale, std::vector<std::wstring> args) {
    auto o = e2e::keepLog(std::move(args));
    o.env[L"LC_ALL"] = std::wstring(locale);
    o.env[L"LANG"] = std::wstring(locale);
    return harness::runProgram(exe, o);
}

TEST(Language, ChosenFromTheUserInterfaceLanguage) {
    e2e::SetupProgram setup;
    e2e::makeSetup(setup, e2e::baseDescription());
    const struct {
        const wchar_t* locale;
        const char* code;
    } cases[] = {
        {L"en_US.UTF-8", "en_US"}, {L"de_DE.UTF-8", "de_DE"}, {L"de_CH.UTF-8", "de_CH"},
        {L"ja_JP.UTF-8", "ja_JP"}, {L"pt_BR.UTF-8", "pt_BR"}, {L"en_AU.UTF-8", "en_AU"},
    };
    for (const auto& c : cases) {
        auto r = runIn(setup.exe, c.locale, {L"-q"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(e2e::hasLine(r.log, std::string("language/country is ") + c.code))
            << harness::toUtf8(c.locale) << "\n" << r.log;
    }
}

TEST(Language, FormatLocaleRequest) {
    e2e::SetupProgram setup;
    e2e::makeSetup(setup, e2e::baseDescription());
    auto r = runIn(setup.exe, L"de_DE.UTF-8", {L"-q", L"-Dsun.locale.formatasdefault=true"});
    EXPECT_TRUE(e2e::hasLine(r.log, "sun.locale.formatasdefault is true")) << r.log;
    EXPECT_TRUE(e2e::hasLine(r.log, "language/country is de_DE"));
    r = runIn(setup.exe, L"de_DE.UTF-8",
              {L"-Dsun.locale.formatasdefault=true", L"-q", L"-Dsun.locale.formatasdefault=false"});
    EXPECT_TRUE(e2e::hasLine(r.log, "sun.locale.formatasdefault is false")) << r.log;
}

TEST(Language, OverrideGroups) {
    e2e::SetupProgram setup;
    e2e::makeSetup(setup, groupedDescription(), "stub_probe");
    const struct {
        const wchar_t* locale;
        std::vector<std::string> expected;
    } cases[] = {
        {L"de_DE.UTF-8", {"language=de", "country=DE", "1001=de 1001", "1002=de_DE 1002", "1003=all 1003"}},
        {L"de_CH.UTF-8", {"language=de", "country=CH", "1001=de_CH 1001", "1002=de 1002", "1003=all 1003"}},
        {L"en_US.UTF-8", {"language=en", "country=US", "1001=base 1001", "1002=base 1002", "1003=all 1003"}},
        {L"ja_JP.UTF-8", {"language=ja", "country=JP", "1001=\xE6\x97\xA5\xE6\x9C\xAC 1001"}},
    };
    for (const auto& c : cases) {
        auto r = runIn(setup.exe, c.locale, {L"messages", L"1001", L"1002", L"1003"});
        EXPECT_EQ(r.exitCode, 0) << harness::toUtf8(c.locale) << r.err;
        for (const auto& line : c.expected) {
            EXPECT_TRUE(e2e::hasLine(r.out, line)) << harness::toUtf8(c.locale) << ": " << line << "\n" << r.out;
        }
    }
}

}  // namespace
