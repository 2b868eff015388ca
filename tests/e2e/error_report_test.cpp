// Error reports after the configuration is read: standard error in quiet
// mode, message boxes otherwise, removal of the extraction directory. Driven
// through the stub probe, a setup program built from the stub's library.
#include "e2e_common.h"

namespace {

mksetup::SetupDescription probeDescription() {
    auto d = e2e::baseDescription();
    d.messages.push_back({1011, u"No placeholder here."});
    return d;
}

struct ProbeRun {
    harness::RunResult result;
    e2e::SeenDialog box;
};

ProbeRun runProbe(const mksetup::SetupDescription& d, std::vector<std::wstring> args, bool expectBox) {
    e2e::SetupProgram setup;
    e2e::makeSetup(setup, d, "stub_probe");
    ProbeRun run;
    harness::RunOptions o;
    o.args = std::move(args);
    o.timeoutMs = 30000;
    if (expectBox) o.whileRunning = e2e::answerDialog(run.box, L"OK");
    run.result = harness::runProgram(setup.exe, o);
    return run;
}

std::string withoutCarriageReturns(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

TEST(ErrorReport, QuietModeWritesStandardError) {
    const struct {
        std::vector<std::wstring> args;
        std::string text;
    } cases[] = {
        {{L"fatal", L"1009", L"X7", L"quiet"}, "Internal error X7 happened."},
        // Without "{0}" the argument is dropped, the text stays.
        {{L"fatal", L"1011", L"X7", L"quiet"}, "No placeholder here."},
        // Without an argument the placeholder stays.
        {{L"fatalnoarg", L"1009", L"quiet"}, "Internal error {0} happened."},
        // A missing message gives an empty text; the log line still follows.
        {{L"fatal", L"4242", L"X", L"quiet"}, ""},
    };
    for (const auto& c : cases) {
        auto run = runProbe(probeDescription(), c.args, false);
        EXPECT_EQ(run.result.exitCode, 1) << c.text;
        ASSERT_EQ(run.result.logFiles.size(), 1u) << c.text;  // a fatal error keeps the log
        std::string expected = c.text + "\n\nLog: " + harness::toUtf8(run.result.logFiles[0]) + "\n";
        EXPECT_EQ(_stricmp(withoutCarriageReturns(run.result.err).c_str(), expected.c_str()), 0)
            << "got: " << run.result.err << "\nwant: " << expected;
    }
}

TEST(ErrorReport, MessageBoxWithCaption) {
    auto run = runProbe(probeDescription(), {L"fatal", L"1009", L"X7"}, true);
    EXPECT_EQ(run.result.exitCode, 1);
    ASSERT_TRUE(run.box.seen);
    EXPECT_EQ(run.box.caption, L"Setup Error");
    ASSERT_EQ(run.result.logFiles.size(), 1u);
    std::wstring expected = L"Internal error X7 happened.\n\nLog: " + run.result.logFiles[0];
    EXPECT_EQ(_wcsicmp(run.box.text.c_str(), expected.c_str()), 0) << harness::toUtf8(run.box.text);
    EXPECT_EQ(run.result.err, "");
}

TEST(ErrorReport, CaptionFallsBackToTheSetting) {
    auto d = probeDescription();
    d.messages.erase(d.messages.begin());  // message 1000
    d.settings.push_back({1000, "Caption From Setting"});
    auto run = runProbe(d, {L"fatal", L"1009", L"1"}, true);
    ASSERT_TRUE(run.box.seen);
    EXPECT_EQ(run.box.caption, L"Caption From Setting");
}

TEST(ErrorReport, ExecutableTypeDecidesBetweenBoxAndStandardError) {
    const struct {
        const char* type;  // nullptr: key absent
        bool box;
    } cases[] = {{"1", true}, {"5", true}, {nullptr, false}, {"0", false}, {"2", false}};
    for (const auto& c : cases) {
        auto d = probeDescription();
        d.settings.erase(d.settings.begin());  // key 107
        if (c.type) d.settings.push_back({107, c.type});
        auto run = runProbe(d, {L"fatal", L"1009", L"T"}, c.box);
        EXPECT_EQ(run.result.exitCode, 1);
        EXPECT_EQ(run.box.seen, c.box) << (c.type ? c.type : "absent");
        EXPECT_EQ(run.result.err.empty(), c.box) << (c.type ? c.type : "absent");
    }
}

std::wstring extractionDirectoryFrom(const std::string& out) {
    for (const auto& line : e2e::lines(out)) {
        if (line.rfind("extraction=", 0) == 0) return harness::fromUtf8(line.substr(11));
    }
    return L"";
}

TEST(ErrorReport, FatalErrorRemovesTheExtractionDirectory) {
    auto run = runProbe(probeDescription(), {L"fatal", L"1009", L"7", L"quiet", L"extract"}, false);
    EXPECT_EQ(run.result.exitCode, 1);
    std::wstring dir = extractionDirectoryFrom(run.result.out);
    ASSERT_FALSE(dir.empty()) << run.result.out;
    EXPECT_FALSE(harness::directoryExists(dir));
}

TEST(ErrorReport, LanguageRestartKeepsTheExtractionDirectory) {
    auto run = runProbe(probeDescription(),
                        {L"fatal", L"1009", L"7", L"quiet", L"extract", L"langrestart"}, false);
    EXPECT_EQ(run.result.exitCode, 1);
    std::wstring dir = extractionDirectoryFrom(run.result.out);
    ASSERT_FALSE(dir.empty()) << run.result.out;
    EXPECT_TRUE(harness::fileExists(dir + L"\\payload.txt"));
    harness::removeTree(dir);
}

}  // namespace
