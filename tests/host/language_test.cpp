#include "config/language.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Every test starts and ends without a chosen code, so order does not matter.
class LanguageCode : public ::testing::Test {
protected:
    void SetUp() override { resetLanguageCode(); }
    void TearDown() override { resetLanguageCode(); }
};

std::string languageOf() {
    char buffer[kLanguageCodeSize] = {};
    return getLanguage(buffer, sizeof buffer) ? buffer : "<unset>";
}

std::string countryOf() {
    char buffer[kLanguageCodeSize] = {};
    return getCountry(buffer, sizeof buffer) ? buffer : "<unset>";
}

}  // namespace

TEST(LanguageTable, ShapeOfTable) {
    ASSERT_EQ(LANGUAGE_TABLE_SIZE, 215u);
    for (std::size_t i = 0; i < LANGUAGE_TABLE_SIZE; ++i) {
        SCOPED_TRACE(i);
        const LanguageRow& row = LANGUAGE_TABLE[i];
        ASSERT_NE(row.code, nullptr);
        EXPECT_GE(std::strlen(row.code), 2u);
        EXPECT_LT(std::strlen(row.code), kLanguageCodeSize);
        if (i < 71) {
            EXPECT_LT(row.id, 0x400);
            EXPECT_EQ(std::strlen(row.code), 2u);
        } else {
            EXPECT_GE(row.id, 0x400);
        }
    }
}

TEST(LanguageTable, IdsAreUnique) {
    std::set<std::uint16_t> ids;
    for (std::size_t i = 0; i < LANGUAGE_TABLE_SIZE; ++i) ids.insert(LANGUAGE_TABLE[i].id);
    EXPECT_EQ(ids.size(), LANGUAGE_TABLE_SIZE);
}

TEST(LanguageTable, RowsAtBoundaries) {
    struct Case { std::size_t index; std::uint16_t id; const char* code; };
    const Case cases[] = {
        {0, 0x0001, "ar"},    {39, 0x0029, "fa"},   {70, 0x0056, "gl"},
        {71, 0x0401, "ar_SA"}, {141, 0x0456, "gl_ES"}, {142, 0x0801, "ar_IQ"},
        {214, 0x500A, "es_PR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(LANGUAGE_TABLE[c.index].id, c.id);
        EXPECT_STREQ(LANGUAGE_TABLE[c.index].code, c.code);
    }
}

TEST(LanguageTable, CodeForId) {
    struct Case { std::uint16_t id; const char* code; };
    const Case cases[] = {
        {0x0407, "de_DE"},
        {0x0807, "de_CH"},
        {0x0C09, "en_AU"},
        {0x0409, "en_US"},
        {0x4409, "en"},     // not in the table: primary 0x09
        {0x0028, "en"},     // unknown primary language
        {0x0428, "en"},
        {0x0000, "en"},
        {0xFFFF, "en"},
        {0x0814, "no_NO_NY"},
        {0x0414, "no_NO"},
        {0x041A, "hr_HR"},  // the full id wins over the primary row
        {0x101A, "sr"},     // unknown full id falls back to primary 0x1A
        {0x081A, "sr_CS"},
        {0x0C1A, "sr_CS"},
        {0x083C, "ga_IE"},
        {0x043C, "gd_GB"},
        {0x0C0A, "es_ES"},
        {0x040A, "es_ES"},
        {0x0812, "ko_KR"},
        {0x082C, "az_AZ"},
        {0x0843, "uz_UZ"},
        {0x2409, "en"},
        {0x0431, "ts"},
        {0x0434, "xh"},
        {0x0435, "zu"},
        {0x043D, "yi"},
        {0x0444, "tt"},
        {0x040D, "iw_IL"},
        {0x0421, "in_ID"},
        {0x0404, "zh_TW"},
        {0x0804, "zh_CN"},
        {0x1404, "zh_MO"},
        {0x0056, "gl"},
        {0x0456, "gl_ES"},
        {0x0856, "gl"},
        {0x500A, "es_PR"},
        {0x540A, "es"},
        {0x0C07, "de_AT"},
        {0x0416, "pt_BR"},
        {0x0816, "pt_PT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_STREQ(languageCodeForId(c.id), c.code);
    }
}

TEST(LanguageTable, EveryRowFindsItself) {
    for (std::size_t i = 0; i < LANGUAGE_TABLE_SIZE; ++i) {
        SCOPED_TRACE(LANGUAGE_TABLE[i].id);
        EXPECT_STREQ(languageCodeForId(LANGUAGE_TABLE[i].id), LANGUAGE_TABLE[i].code);
    }
}

TEST(FormatLocale, ArgumentSequences) {
    const std::wstring on = L"-Dsun.locale.formatasdefault=true";
    const std::wstring off = L"-Dsun.locale.formatasdefault=false";
    struct Case { const char* name; std::vector<std::wstring> args; bool expected; };
    const Case cases[] = {
        {"empty", {}, false},
        {"absent", {L"-Xmx64m", L"app.jar"}, false},
        {"true", {on}, true},
        {"true among others", {L"-Xmx64m", on, L"-Dother=1"}, true},
        {"true then false", {on, off}, false},
        {"false then true", {off, on}, true},
        {"uppercase value clears", {on, L"-Dsun.locale.formatasdefault=TRUE"}, false},
        {"empty value clears", {on, L"-Dsun.locale.formatasdefault="}, false},
        {"trailing text clears", {on, L"-Dsun.locale.formatasdefault=true "}, false},
        {"uppercase value alone", {L"-Dsun.locale.formatasdefault=TRUE"}, false},
        {"missing equals", {L"-Dsun.locale.formatasdefault"}, false},
        {"missing equals keeps", {on, L"-Dsun.locale.formatasdefault"}, true},
        {"other case prefix keeps", {on, L"-DSUN.LOCALE.FORMATASDEFAULT=false"}, true},
        {"leading space keeps", {on, L" -Dsun.locale.formatasdefault=false"}, true},
        {"leading space ignored", {L" -Dsun.locale.formatasdefault=true"}, false},
        {"last wins", {on, off, on, off, on}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(formatLocaleRequested(c.args), c.expected);
    }
}

TEST(LanguageGroups, PrefixMatching) {
    struct Case { const char* prefix; const char* code; bool applies; };
    const Case cases[] = {
        {"de", "de_DE", true},
        {"de_DE", "de_DE", true},
        {"de_CH", "de_DE", false},
        {"", "de_DE", true},
        {"", "en", true},
        {"", "", true},
        {"de_DE_X", "de_DE", false},  // longer than the code
        {"en_US", "en", false},
        {"en", "en", true},
        {"e", "en", true},
        {"fr", "de_DE", false},
        {"DE", "de_DE", false},
        {"no_NO", "no_NO_NY", true},
        {"no_NO_NY", "no_NO_NY", true},
        {"no_NO_NYX", "no_NO_NY", false},
        {"no", "no_NO_NY", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + " / " + c.code);
        EXPECT_EQ(languageGroupApplies(c.prefix, c.code), c.applies);
    }
}

TEST_F(LanguageCode, UnsetByDefault) {
    char buffer[kLanguageCodeSize] = "xyz";
    EXPECT_FALSE(getLanguage(buffer, sizeof buffer));
    EXPECT_FALSE(getCountry(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "xyz");
}

TEST_F(LanguageCode, SplitsChosenCodes) {
    struct Case { const char* code; const char* language; const char* country; };
    const Case cases[] = {
        {"de_DE", "de", "DE"},
        {"de_CH", "de", "CH"},
        {"en_AU", "en", "AU"},
        {"es_ES", "es", "ES"},
        {"hr_HR", "hr", "HR"},
        {"en", "en", "<unset>"},
        {"sr", "sr", "<unset>"},
        {"no_NO_NY", "no", "<unset>"},
        {"e", "e", "<unset>"},
        {"", "", "<unset>"},
        {"abcd", "ab", "<unset>"},
        {"abcdef", "ab", "<unset>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        setLanguageCode(c.code);
        EXPECT_EQ(languageOf(), c.language);
        EXPECT_EQ(countryOf(), c.country);
    }
}

TEST_F(LanguageCode, TableCodesEndToEnd) {
    struct Case { std::uint16_t id; const char* language; const char* country; };
    const Case cases[] = {
        {0x0407, "de", "DE"},
        {0x0807, "de", "CH"},
        {0x0C09, "en", "AU"},
        {0x4409, "en", "<unset>"},
        {0x0028, "en", "<unset>"},
        {0x0814, "no", "<unset>"},
        {0x041A, "hr", "HR"},
        {0x101A, "sr", "<unset>"},
        {0x2409, "en", "<unset>"},
        {0x0C0A, "es", "ES"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        setLanguageCode(languageCodeForId(c.id));
        EXPECT_EQ(languageOf(), c.language);
        EXPECT_EQ(countryOf(), c.country);
    }
}

TEST_F(LanguageCode, LaterCodeClearsCountry) {
    setLanguageCode("de_DE");
    EXPECT_EQ(countryOf(), "DE");
    setLanguageCode("en");
    EXPECT_EQ(languageOf(), "en");
    EXPECT_EQ(countryOf(), "<unset>");
}

TEST_F(LanguageCode, ResetForgetsCode) {
    setLanguageCode("de_DE");
    resetLanguageCode();
    EXPECT_EQ(languageOf(), "<unset>");
    EXPECT_EQ(countryOf(), "<unset>");
}

TEST_F(LanguageCode, SmallBuffers) {
    setLanguageCode("de_DE");
    struct Case { std::size_t size; const char* expected; };
    const Case cases[] = {{1, ""}, {2, "d"}, {3, "de"}, {4, "de"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        char buffer[8];
        std::memset(buffer, '#', sizeof buffer);
        ASSERT_TRUE(getLanguage(buffer, c.size));
        EXPECT_STREQ(buffer, c.expected);
        // Nothing written past the terminator's slot.
        for (std::size_t i = c.size; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#');

        std::memset(buffer, '#', sizeof buffer);
        ASSERT_TRUE(getCountry(buffer, c.size));
        EXPECT_STREQ(buffer, std::string("DE").substr(0, c.size - 1).c_str());
        for (std::size_t i = c.size; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#');
    }
}

TEST_F(LanguageCode, ZeroSizeWritesNothing) {
    setLanguageCode("de_DE");
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_TRUE(getLanguage(buffer, 0));
    EXPECT_TRUE(getCountry(buffer, 0));
    for (char ch : buffer) EXPECT_EQ(ch, '#');
}

TEST_F(LanguageCode, ExactBufferFits) {
    // Heap buffers of the exact size let AddressSanitizer catch any overrun.
    setLanguageCode("de_DE");
    std::vector<char> language(3, '#');
    ASSERT_TRUE(getLanguage(language.data(), language.size()));
    EXPECT_STREQ(language.data(), "de");
    std::vector<char> country(3, '#');
    ASSERT_TRUE(getCountry(country.data(), country.size()));
    EXPECT_STREQ(country.data(), "DE");
}
