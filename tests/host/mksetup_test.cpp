// The setup builder: CRC, PE walk, block layout, round trips through the
// inspector, and the inspector's refusal of damaged files.
#include "setup_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace mksetup {

bool operator==(const Message& a, const Message& b) { return a.id == b.id && a.text == b.text; }
bool operator==(const LanguageGroup& a, const LanguageGroup& b) {
    return a.prefix == b.prefix && a.messages == b.messages;
}

}  // namespace mksetup

namespace {

namespace fs = std::filesystem;
using mksetup::Bytes;
using mksetup::InspectResult;
using mksetup::LanguageGroup;
using mksetup::Message;
using mksetup::PayloadFile;
using mksetup::SetupDescription;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

void set16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void set32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t get32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// ---- a minimal PE image -----------------------------------------------------

struct PeShape {
    std::uint16_t sections = 3;
    std::uint16_t optionalHeaderSize = 0xF0;
    std::uint32_t peOffset = 0x80;
    std::uint32_t rawSize = 0x40;  // per section
};

// MZ header pointing at the PE signature, a file header, an (empty) optional
// header and a section table whose last section's raw data ends at the end
// of the file, as a stripped linker output does.
Bytes makeStub(const PeShape& shape = {}) {
    const std::size_t tableStart = shape.peOffset + 24 + shape.optionalHeaderSize;
    const std::size_t rawStart = (tableStart + 40 * shape.sections + 15) / 16 * 16;
    Bytes image(rawStart + static_cast<std::size_t>(shape.rawSize) * shape.sections, 0);
    image[0] = 'M';
    image[1] = 'Z';
    set32(image, 60, shape.peOffset);
    std::memcpy(&image[shape.peOffset], "PE\0\0", 4);
    set16(image, shape.peOffset + 4, 0x8664);
    set16(image, shape.peOffset + 6, shape.sections);
    set16(image, shape.peOffset + 20, shape.optionalHeaderSize);
    if (shape.optionalHeaderSize >= 2) set16(image, shape.peOffset + 24, 0x20B);
    for (std::size_t s = 0; s < shape.sections; ++s) {
        const std::size_t header = tableStart + 40 * s;
        std::memcpy(&image[header], ".sect", 5);
        image[header + 5] = static_cast<std::uint8_t>('0' + s % 10);
        set32(image, header + 16, shape.rawSize);
        set32(image, header + 20, static_cast<std::uint32_t>(rawStart + shape.rawSize * s));
    }
    for (std::size_t i = rawStart; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return image;
}

std::size_t lastHeader(const PeShape& shape) {
    return shape.peOffset + 24 + shape.optionalHeaderSize + 40 * (shape.sections - 1u);
}

// ---- descriptions -----------------------------------------------------------

Bytes pattern(std::size_t size) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i);
    return data;
}

SetupDescription fullDescription() {
    SetupDescription d;
    d.settings = {{107, "1"}, {2001, "i"}, {146, "${TEMP}"}, {300, "caf\xE9"}, {-5, "negative id"}, {400, ""}};
    d.messages = {{1000, u"Error"}, {1001, u"Gr\u00FC\u00DFe \u20AC"}, {1002, u"\U0001F600"}, {1003, u""}};
    d.groups = {{"de", {{1000, u"Fehler"}}}, {"pt_BR", {}}, {"", {{1001, u"x"}}}};
    d.files = {{"app.jar", pattern(300)}, {"sub\\x.txt", bytesOf("inline")}, {"empty.bin", {}}};
    d.trailing = {1, 2, 3, 0x88};
    return d;
}

InspectResult inspectOrFail(const Bytes& setup) {
    std::string error;
    std::optional<InspectResult> result = mksetup::inspectSetup(setup, &error);
    EXPECT_TRUE(result.has_value()) << error;
    return result.value_or(InspectResult{});
}

const std::string* lastSetting(const InspectResult& result, std::int32_t id) {
    const std::string* found = nullptr;
    for (const auto& setting : result.settings) {
        if (setting.first == id) found = &setting.second;
    }
    return found;
}

int settingCount(const InspectResult& result, std::int32_t id) {
    int count = 0;
    for (const auto& setting : result.settings) count += setting.first == id;
    return count;
}

bool oneLine(const std::string& error) { return !error.empty() && error.find('\n') == std::string::npos; }

// ---- CRC --------------------------------------------------------------------

TEST(Crc32, KnownVectors) {
    const struct {
        std::string input;
        std::uint32_t crc;
    } cases[] = {
        {"", 0x00000000u},
        {"123456789", 0xCBF43926u},
        {"a", 0xE8B7BE43u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {std::string(32, '\0'), 0x190A55ADu},
    };
    for (const auto& c : cases) {
        const Bytes data = bytesOf(c.input);
        EXPECT_EQ(mksetup::crc32(0, data.data(), data.size()), c.crc) << '"' << c.input << '"';
    }
}

TEST(Crc32, ContinuesAcrossChunks) {
    const Bytes data = bytesOf("123456789");
    for (std::size_t split = 0; split <= data.size(); ++split) {
        const std::uint32_t first = mksetup::crc32(0, data.data(), split);
        EXPECT_EQ(mksetup::crc32(first, data.data() + split, data.size() - split), 0xCBF43926u) << split;
    }
}

// ---- PE walk ----------------------------------------------------------------

TEST(ImageEnd, FindsTheEndOfValidImages) {
    const PeShape shapes[] = {
        {}, {1, 0, 0x40, 0x10}, {1, 0xE0, 0x40, 0x200}, {8, 0xF0, 0x100, 0x20}, {96, 0xF0, 0x80, 0x10},
    };
    for (const PeShape& shape : shapes) {
        const Bytes stub = makeStub(shape);
        std::string error;
        std::optional<std::uint64_t> end = mksetup::imageEnd(stub, &error);
        ASSERT_TRUE(end.has_value()) << error << " (" << shape.sections << " sections)";
        EXPECT_EQ(*end, stub.size());
    }
}

TEST(ImageEnd, RefusesUnusableStubs) {
    const PeShape shape;
    const std::size_t pe = shape.peOffset;
    const std::size_t last = lastHeader(shape);
    const struct {
        const char* name;
        std::function<void(Bytes&)> damage;
        const char* message;
    } cases[] = {
        {"too small", [](Bytes& b) { b.resize(40); }, "not a PE image"},
        {"no MZ", [](Bytes& b) { b[0] = 'X'; }, "no MZ signature"},
        {"text file", [](Bytes& b) { b = bytesOf(std::string(100, 'x')); }, "no MZ signature"},
        {"negative PE offset", [](Bytes& b) { set32(b, 60, 0x80000000u); }, "outside the file"},
        {"PE offset past the end", [](Bytes& b) { set32(b, 60, static_cast<std::uint32_t>(b.size())); },
         "outside the file"},
        {"no PE signature", [pe](Bytes& b) { b[pe + 2] = 'X'; }, "no PE signature"},
        {"no sections", [pe](Bytes& b) { set16(b, pe + 6, 0); }, "number of sections"},
        {"negative section count", [pe](Bytes& b) { set16(b, pe + 6, 0x8000); }, "number of sections"},
        {"negative optional header size", [pe](Bytes& b) { set16(b, pe + 20, 0xFFFF); },
         "optional header size"},
        {"section table past the end", [pe](Bytes& b) { set16(b, pe + 6, 1000); }, "section table"},
        {"data after the image", [](Bytes& b) { b.insert(b.end(), 1234, 0); },
         "stub has 1234 bytes after its last section (not stripped, or already a setup program)"},
        {"truncated image", [](Bytes& b) { b.pop_back(); }, "stub is truncated"},
        {"last section without raw data", [last](Bytes& b) { set32(b, last + 16, 0); }, "no raw data"},
        {"last section beyond 4 GiB", [last](Bytes& b) { set32(b, last + 20, 0xFFFFFFF0u); }, "4 GiB"},
        {"last section inside the headers", [last](Bytes& b) { set32(b, last + 20, 0); },
         "inside the headers"},
    };
    for (const auto& c : cases) {
        Bytes stub = makeStub(shape);
        c.damage(stub);
        std::string error;
        EXPECT_FALSE(mksetup::imageEnd(stub, &error).has_value()) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(oneLine(error)) << c.name;

        std::string buildError;
        EXPECT_FALSE(mksetup::buildSetup(stub, fullDescription(), &buildError).has_value()) << c.name;
        EXPECT_EQ(buildError, error) << c.name;
    }
}

// ---- layout -----------------------------------------------------------------

TEST(Layout, WritesTheDocumentedBytes) {
    SetupDescription d;
    d.settings = {{1, "ab"}};
    d.messages = {{2, u"\u00E9"}};
    d.groups = {{"de", {{3, u"x"}}}};
    d.files = {{"f", {0x00, 0xFF}}};
    d.trailing = {0x7A};
    const Bytes body = {
        3, 0, 0, 0,                                              // settings count
        1, 0, 0, 0, 2, 0, 0, 0, 'a', 'b',                        // id 1
        0xD2, 0x07, 0, 0, 1, 0, 0, 0, '1',                       // 2002: file count
        0xD3, 0x07, 0, 0, 1, 0, 0, 0, 'f',                       // 2003: names
        1, 0, 0, 0,                                              // messages count
        2, 0, 0, 0, 2, 0, 0, 0, 0xE9, 0x00,                      // id 2, UTF-16LE
        1, 0, 0, 0,                                              // groups count
        2, 0, 0, 0, 'd', 'e', 1, 0, 0, 0,                        // prefix, entry count
        3, 0, 0, 0, 2, 0, 0, 0, 'x', 0,                          // id 3
        2, 0, 0, 0, 0, 0, 0, 0, 0x88, 0x77,                      // file "f", scrambled
        0x7A,                                                    // trailing
    };
    const Bytes out = mksetup::buildAppendedData(d);
    ASSERT_EQ(out.size(), 20 + body.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), (Bytes{0xD5, 0x13, 0xE4, 0xE8, 1, 0, 0, 0}));
    EXPECT_EQ(get32(out, 8), mksetup::crc32(0, body.data(), body.size()));
    EXPECT_EQ(get32(out, 12), body.size());
    EXPECT_EQ(get32(out, 16), 0u);
    EXPECT_EQ(Bytes(out.begin() + 20, out.end()), body);

    d.checkFlag = false;
    EXPECT_EQ(get32(mksetup::buildAppendedData(d), 4), 0u);
}

// ---- round trips ------------------------------------------------------------

TEST(RoundTrip, InspectReadsBackWhatWasBuilt) {
    for (bool check : {true, false}) {
        const Bytes stub = makeStub();
        SetupDescription d = fullDescription();
        d.checkFlag = check;
        std::string error;
        std::optional<Bytes> setup = mksetup::buildSetup(stub, d, &error);
        ASSERT_TRUE(setup.has_value()) << error;
        ASSERT_TRUE(std::equal(stub.begin(), stub.end(), setup->begin()));

        const InspectResult r = inspectOrFail(*setup);
        EXPECT_EQ(r.blockStart, stub.size());
        EXPECT_EQ(get32(*setup, stub.size()), mksetup::kBlockMagic);
        EXPECT_EQ(r.checkFlag, check ? 1u : 0u);
        EXPECT_EQ(r.storedCrc, r.computedCrc);
        EXPECT_TRUE(r.checkedRangeComplete);
        EXPECT_EQ(r.checkedLength, static_cast<std::int64_t>(setup->size() - stub.size() - 20));

        auto settings = d.settings;
        settings.emplace_back(2002, "3");
        settings.emplace_back(2003, "app.jar;sub\\x.txt;empty.bin");
        EXPECT_EQ(r.settings, settings);
        EXPECT_EQ(r.messages, d.messages);
        EXPECT_EQ(r.groups, d.groups);

        ASSERT_EQ(r.payload.size(), d.files.size());
        std::uint64_t expectedOffset = r.payloadOffset;
        for (std::size_t i = 0; i < d.files.size(); ++i) {
            const auto& entry = r.payload[i];
            const Bytes& plain = d.files[i].data;
            EXPECT_EQ(entry.name, d.files[i].name);
            EXPECT_EQ(entry.offset, expectedOffset);
            EXPECT_EQ(entry.length, static_cast<std::int64_t>(plain.size()));
            for (std::size_t k = 0; k < plain.size(); ++k) {
                ASSERT_EQ(setup->at(entry.offset + 8 + k), plain[k] ^ 0x88) << d.files[i].name << " byte " << k;
            }
            expectedOffset += 8 + plain.size();
        }
        EXPECT_EQ(r.trailingBytes, d.trailing.size());
        EXPECT_TRUE(std::equal(d.trailing.begin(), d.trailing.end(), setup->end() - 4));
        EXPECT_EQ(expectedOffset + r.trailingBytes, setup->size());
    }
}

TEST(RoundTrip, EmptyDescription) {
    std::string error;
    std::optional<Bytes> setup = mksetup::buildSetup(makeStub(), SetupDescription{}, &error);
    ASSERT_TRUE(setup.has_value()) << error;
    const InspectResult r = inspectOrFail(*setup);
    EXPECT_EQ(r.settings, (std::vector<std::pair<std::int32_t, std::string>>{{2002, "0"}, {2003, ""}}));
    EXPECT_TRUE(r.messages.empty());
    EXPECT_TRUE(r.groups.empty());
    EXPECT_TRUE(r.payload.empty());
    EXPECT_EQ(r.trailingBytes, 0u);
    EXPECT_EQ(r.storedCrc, r.computedCrc);
}

TEST(FileKeys, AddedUnlessTheDescriptionSetsThem) {
    const struct {
        const char* name;
        std::vector<std::pair<std::int32_t, std::string>> given;
        std::string count;
        std::string names;
    } cases[] = {
        {"neither", {}, "2", "a.jar;b\\c.txt"},
        {"count given", {{2002, "02"}}, "02", "a.jar;b\\c.txt"},
        {"names given", {{2003, "first;second"}}, "2", "first;second"},
        {"both given", {{2003, "A;B"}, {2002, "2"}}, "2", "A;B"},
    };
    for (const auto& c : cases) {
        SetupDescription d;
        d.settings = c.given;
        d.files = {{"a.jar", bytesOf("aaa")}, {"b\\c.txt", bytesOf("c")}};
        std::string error;
        std::optional<Bytes> setup = mksetup::buildSetup(makeStub(), d, &error);
        ASSERT_TRUE(setup.has_value()) << c.name << ": " << error;
        const InspectResult r = inspectOrFail(*setup);
        EXPECT_EQ(settingCount(r, 2002), 1) << c.name;
        EXPECT_EQ(settingCount(r, 2003), 1) << c.name;
        ASSERT_NE(lastSetting(r, 2002), nullptr);
        ASSERT_NE(lastSetting(r, 2003), nullptr);
        EXPECT_EQ(*lastSetting(r, 2002), c.count) << c.name;
        EXPECT_EQ(*lastSetting(r, 2003), c.names) << c.name;
        ASSERT_EQ(r.payload.size(), 2u) << c.name;
        // The inspector takes the names from the setting, whatever it says.
        EXPECT_EQ(r.payload[0].name + ";" + r.payload[1].name, c.names) << c.name;
    }
}

// ---- damaged setups ---------------------------------------------------------

TEST(Inspect, TruncationAtEveryOffsetFailsCleanly) {
    std::string error;
    const Bytes setup = mksetup::buildSetup(makeStub(), fullDescription(), &error).value();
    const std::size_t blockStart = makeStub().size();
    for (std::size_t size = 0; size < setup.size(); ++size) {
        const Bytes cut(setup.begin(), setup.begin() + static_cast<std::ptrdiff_t>(size));
        error.clear();
        std::optional<InspectResult> r = mksetup::inspectSetup(cut, &error);
        if (r) {
            // Only the trailing bytes can go missing unnoticed by the layout;
            // the checked range then reaches past the end.
            EXPECT_GT(size, blockStart) << size;
            EXPECT_FALSE(r->checkedRangeComplete) << size;
            EXPECT_EQ(r->payload.size(), 3u) << size;
        } else {
            EXPECT_TRUE(oneLine(error)) << size << ": " << error;
        }
    }
}

TEST(Inspect, CorruptedBytesNeverCrash) {
    std::string error;
    const Bytes setup = mksetup::buildSetup(makeStub(), fullDescription(), &error).value();
    const std::size_t blockStart = makeStub().size();
    for (std::size_t at = blockStart; at < setup.size(); ++at) {
        for (std::uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF}) {
            Bytes damaged = setup;
            damaged[at] = value;
            error.clear();
            if (!mksetup::inspectSetup(damaged, &error)) {
                EXPECT_TRUE(oneLine(error)) << at << ": " << error;
            }
        }
    }
}

// Hand-made appended data: the header, then `body` as the checked range.
struct Block {
    Bytes body;
    std::uint32_t magic = mksetup::kBlockMagic;
    std::optional<std::int64_t> checkedLength;

    Block& i32(std::int32_t v) {
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
        return *this;
    }
    Block& i64(std::int64_t v) {
        for (int i = 0; i < 8; ++i) body.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i)));
        return *this;
    }
    Block& raw(const std::string& bytes) {
        body.insert(body.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Block& str(const std::string& text) { return i32(static_cast<std::int32_t>(text.size())).raw(text); }
    Block& setting(std::int32_t id, const std::string& text) { return i32(id).str(text); }
    // No settings, messages or groups.
    Block& emptyTables() { return i32(0).i32(0).i32(0); }
    Block& header(std::uint32_t m, std::optional<std::int64_t> length) {
        magic = m;
        checkedLength = length;
        return *this;
    }

    Bytes setup() const {
        Bytes out = makeStub();
        Block head;
        head.i32(static_cast<std::int32_t>(magic)).i32(1);
        head.i32(static_cast<std::int32_t>(mksetup::crc32(0, body.data(), body.size())));
        head.i64(checkedLength.value_or(static_cast<std::int64_t>(body.size())));
        out.insert(out.end(), head.body.begin(), head.body.end());
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }
};

TEST(Inspect, AcceptsHandMadeBlocks) {
    const struct {
        const char* name;
        Block block;
        std::size_t files;
        std::uint64_t trailing;
    } cases[] = {
        {"empty tables", Block().emptyTables(), 0, 0},
        {"no file count, rest is trailing", Block().emptyTables().raw("xyz"), 0, 3},
        {"one empty file", Block().i32(1).setting(2002, "1").i32(0).i32(0).i64(0), 1, 0},
        {"names list shorter", Block().i32(2).setting(2002, "2").setting(2003, "").i32(0).i32(0).i64(1).raw("a").i64(0).raw("t"), 2, 1},
        {"later setting wins", Block().i32(2).setting(2002, "5").setting(2002, "0").i32(0).i32(0), 0, 0},
    };
    for (const auto& c : cases) {
        std::string error;
        std::optional<InspectResult> r = mksetup::inspectSetup(c.block.setup(), &error);
        ASSERT_TRUE(r.has_value()) << c.name << ": " << error;
        EXPECT_EQ(r->payload.size(), c.files) << c.name;
        EXPECT_EQ(r->trailingBytes, c.trailing) << c.name;
        EXPECT_EQ(r->storedCrc, r->computedCrc) << c.name;
        for (const auto& entry : r->payload) EXPECT_EQ(entry.name, "") << c.name;
    }
}

TEST(Inspect, RefusesDamagedLengths) {
    constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();
    const struct {
        const char* name;
        Block block;
        const char* message;
    } cases[] = {
        {"header cut short", Block().header(mksetup::kBlockMagic, 0), "cannot read the settings count"},
        {"bad magic", Block().emptyTables().header(0x12345678u, std::nullopt), "magic number"},
        {"negative checked length", Block().emptyTables().header(mksetup::kBlockMagic, -1), "checked length -1"},
        {"negative settings count", Block().i32(-1), "settings count at offset"},
        {"huge settings count", Block().i32(kMax32), "needs at least"},
        {"settings count one too many", Block().i32(2).setting(1, "x").i32(0).i32(0), "truncated"},
        {"negative setting length", Block().i32(1).i32(5).i32(-1), "is negative"},
        {"huge setting length", Block().i32(1).i32(5).i32(kMax32).raw("abcd"), "exceeds"},
        {"setting length one too long", Block().i32(1).i32(5).i32(4).raw("abc"), "exceeds"},
        {"negative message count", Block().i32(0).i32(-3), "messages count"},
        {"huge message count", Block().i32(0).i32(0x10000000), "needs at least"},
        {"odd message length", Block().i32(0).i32(1).i32(7).i32(3).raw("abc").i32(0), "odd byte length 3"},
        {"negative message length", Block().i32(0).i32(1).i32(7).i32(-2), "is negative"},
        {"huge message length", Block().i32(0).i32(1).i32(7).i32(kMax32 - 1), "exceeds"},
        {"negative group count", Block().i32(0).i32(0).i32(-1), "language groups count"},
        {"huge group count", Block().i32(0).i32(0).i32(kMax32), "needs at least"},
        {"negative prefix length", Block().i32(0).i32(0).i32(1).i32(-1).i32(0), "prefix"},
        {"huge group entry count", Block().i32(0).i32(0).i32(1).str("de").i32(0x10000000), "needs at least"},
        {"odd group message length", Block().i32(0).i32(0).i32(1).str("de").i32(1).i32(9).i32(1).raw("x"),
         "odd byte length 1"},
        {"negative payload length", Block().i32(1).setting(2002, "1").i32(0).i32(0).i64(-1), "is negative"},
        {"huge payload length", Block().i32(1).setting(2002, "1").i32(0).i32(0).i64(kMax64), "exceeds"},
        {"payload one byte short", Block().i32(1).setting(2002, "1").i32(0).i32(0).i64(3).raw("ab"), "exceeds"},
        {"payload length cut", Block().i32(1).setting(2002, "1").i32(0).i32(0).raw("\x01\x00\x00\x00\x00\x00\x00\x00"),
         "announces 1 included files"},
        {"file count not a number", Block().i32(1).setting(2002, "two").i32(0).i32(0), "not a decimal number"},
        {"negative file count", Block().i32(1).setting(2002, "-1").i32(0).i32(0), "not a decimal number"},
        {"file count too large", Block().i32(1).setting(2002, "99999999999999999999").i32(0).i32(0),
         "not a decimal number"},
        {"more files than bytes", Block().i32(1).setting(2002, "1000").i32(0).i32(0).i64(0), "announces 1000"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(mksetup::inspectSetup(c.block.setup(), &error).has_value()) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(oneLine(error)) << c.name;
    }
}

TEST(Inspect, RefusesFilesWithoutABlock) {
    Bytes cutStub = makeStub();
    cutStub.pop_back();
    const struct {
        const char* name;
        Bytes file;
        const char* message;
    } cases[] = {
        {"plain stub", makeStub(), "no data after the image"},
        {"text file", bytesOf(std::string(200, '#')), "not a PE image"},
        {"empty file", {}, "not a PE image"},
        {"image cut inside its last section", cutStub, "truncated"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(mksetup::inspectSetup(c.file, &error).has_value()) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    }
}

// ---- validation -------------------------------------------------------------

TEST(FileNames, AcceptsRelativeNames) {
    for (const char* name : {"a.jar", "sub\\x.txt", "sub/x.txt", ".hidden", "a..b", "d\\e\\f g.txt", "\xC3\xA4.txt"}) {
        std::string error;
        EXPECT_TRUE(mksetup::checkFileName(name, &error)) << name << ": " << error;
    }
}

TEST(FileNames, RefusesUnusableNames) {
    const struct {
        std::string name;
        const char* message;
    } cases[] = {
        {"", "empty"},
        {"a;b", "contains ';'"},
        {"C:\\x", "not allowed"},
        {"a*b", "not allowed"},
        {"a\x01", "not allowed"},
        {std::string("a\0b", 3), "not allowed"},
        {"\\abs", "absolute"},
        {"/abs", "absolute"},
        {"a\\..\\b", "\"..\" component"},
        {"..", "\"..\" component"},
        {".\\a", "\"..\" component"},
        {"a\\\\b", "empty path component"},
        {"dir\\", "empty path component"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(mksetup::checkFileName(c.name, &error)) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;

        SetupDescription d;
        d.files = {{c.name, {}}};
        EXPECT_FALSE(mksetup::buildSetup(makeStub(), d, &error).has_value()) << c.name;
    }
}

TEST(FileNames, RefusesDuplicates) {
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"a.jar", "a.jar"}, {"A.jar", "a.JAR"}, {"d\\x", "d/x"}, {"D/X", "d\\x"}};
    for (const auto& pair : pairs) {
        SetupDescription d;
        d.files = {{pair.first, {}}, {"other", {}}, {pair.second, {}}};
        std::string error;
        EXPECT_FALSE(mksetup::buildSetup(makeStub(), d, &error).has_value()) << pair.second;
        EXPECT_NE(error.find("duplicate file name"), std::string::npos) << error;
    }
}

// ---- text conversions -------------------------------------------------------

TEST(Text, Utf8ToUtf16) {
    const struct {
        std::string in;
        std::u16string out;
    } valid[] = {
        {"", u""},
        {"Error", u"Error"},
        {"\xC3\xA4", u"\u00E4"},
        {"\xE2\x82\xAC", u"\u20AC"},
        {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
    };
    for (const auto& c : valid) {
        std::u16string out;
        std::string error;
        EXPECT_TRUE(mksetup::utf8ToUtf16(c.in, out, &error)) << c.in << ": " << error;
        EXPECT_EQ(out, c.out) << c.in;
        EXPECT_EQ(mksetup::utf16ToUtf8(out), c.in);
        EXPECT_TRUE(mksetup::isValidUtf8(c.in));
    }
    const std::string invalid[] = {
        "\x80", "\xC3", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
        "ok\xE2\x82",
    };
    for (const std::string& in : invalid) {
        std::u16string out;
        std::string error;
        EXPECT_FALSE(mksetup::utf8ToUtf16(in, out, &error)) << in;
        EXPECT_NE(error.find("invalid UTF-8"), std::string::npos);
        EXPECT_FALSE(mksetup::isValidUtf8(in));
    }
}

TEST(Text, Latin1) {
    std::string out;
    std::string error;
    EXPECT_TRUE(mksetup::utf8ToLatin1("caf\xC3\xA9 \xC3\xBF", out, &error)) << error;
    EXPECT_EQ(out, "caf\xE9 \xFF");
    EXPECT_EQ(mksetup::latin1ToUtf8(out), "caf\xC3\xA9 \xC3\xBF");
    EXPECT_FALSE(mksetup::utf8ToLatin1("\xE2\x82\xAC", out, &error));
    EXPECT_NE(error.find("U+20AC"), std::string::npos) << error;
}

TEST(Text, UnpairedSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(mksetup::utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
    EXPECT_EQ(mksetup::utf16ToUtf8(u"a" + std::u16string(1, u'\xDC00') + u"b"), "a\xEF\xBF\xBD" "b");
}

// ---- files ------------------------------------------------------------------

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("mksetup-test-" + std::to_string(random()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    fs::path dir_;
};

TEST_F(Files, WriteIntoMissingDirectoryLeavesNothing) {
    const std::string target = path("missing/out.exe");
    std::string error;
    EXPECT_FALSE(mksetup::writeFileAtomically(target, bytesOf("data"), &error));
    EXPECT_TRUE(oneLine(error)) << error;
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(entries(), 0u);
}

TEST_F(Files, WriteOntoADirectoryLeavesNoTemporaryFile) {
    fs::create_directory(path("taken"));
    std::string error;
    EXPECT_FALSE(mksetup::writeFileAtomically(path("taken"), bytesOf("data"), &error));
    EXPECT_TRUE(fs::is_directory(path("taken")));
    EXPECT_EQ(entries(), 1u);
}

TEST_F(Files, WriteReplacesAnExistingFile) {
    const std::string target = path("out.exe");
    for (const std::string& content : {std::string("first, longer content"), std::string("second")}) {
        std::string error;
        ASSERT_TRUE(mksetup::writeFileAtomically(target, bytesOf(content), &error)) << error;
        Bytes back;
        ASSERT_TRUE(mksetup::readFile(target, back, &error)) << error;
        EXPECT_EQ(back, bytesOf(content));
        EXPECT_EQ(entries(), 1u);
    }
}

TEST_F(Files, ReadErrors) {
    Bytes data;
    std::string error;
    EXPECT_FALSE(mksetup::readFile(path("absent"), data, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    EXPECT_FALSE(mksetup::readFile(dir_.string(), data, &error));
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
}

}  // namespace
