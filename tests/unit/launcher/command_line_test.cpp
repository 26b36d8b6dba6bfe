#include <gtest/gtest.h>

#include "launcher/run_options.h"
#include "platform/standin/process.h"

namespace sp {
namespace {

struct OptionsCase {
    const char16_t* arguments;  // after the program name
    bool quiet, applyMode, extractMode;
    const char16_t* extractPath;
    bool patchListMode;
    const char16_t* patchListFile;
    bool showPatchListMode, infoMode;
};

void PrintTo(const OptionsCase& c, std::ostream* out) {
    *out << testing::PrintToString(std::u16string(c.arguments));
}

class ParseCommandLineTest : public testing::TestWithParam<OptionsCase> {};

TEST_P(ParseCommandLineTest, SetsRunOptions) {
    const OptionsCase& c = GetParam();
    runOptions.infoMode = false;
    standin::SetProcessCommandLine(std::u16string(u"\"C:\\sp.exe\" ") + c.arguments);
    EXPECT_TRUE(ParseCommandLine());
    EXPECT_EQ(runOptions.quiet, c.quiet);
    EXPECT_EQ(runOptions.applyMode, c.applyMode);
    EXPECT_EQ(runOptions.extractMode, c.extractMode);
    EXPECT_EQ(runOptions.extractPath, c.extractPath);
    EXPECT_EQ(runOptions.patchListMode, c.patchListMode);
    EXPECT_EQ(runOptions.patchListFile, c.patchListFile);
    EXPECT_EQ(runOptions.showPatchListMode, c.showPatchListMode);
    EXPECT_EQ(runOptions.infoMode, c.infoMode);
}

// quiet, apply, extract, path, patchList, file, show, info
INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseCommandLineTest,
    testing::Values(
        OptionsCase{u"", false, true, false, u"", false, u"", false, false},
        OptionsCase{u"/q", true, true, false, u"", false, u"", false, false},
        OptionsCase{u"/Q", true, true, false, u"", false, u"", false, false},
        OptionsCase{u"-q /quiet /x /q2 q", false, true, false, u"", false, u"", false, false},
        OptionsCase{u"/e out.msp /p list.txt", false, false, true, u"out.msp", true, u"list.txt",
                    false, false},
        OptionsCase{u"/E \"C:\\out dir\\sp.msp\"", false, false, true, u"C:\\out dir\\sp.msp",
                    false, u"", false, false},
        OptionsCase{u"/e out.msp /i", false, false, true, u"out.msp", false, u"", false, true},
        // Nothing after /i is read.
        OptionsCase{u"/i /e out.msp /q", false, false, false, u"", false, u"", false, true},
        OptionsCase{u"/p", false, false, false, u"", true, u"", false, false},
        OptionsCase{u"/e", false, false, true, u"", false, u"", false, false},
        // A value is taken verbatim, even when it looks like an option.
        OptionsCase{u"/p /q", false, false, false, u"", true, u"/q", false, false},
        OptionsCase{u"/pi", false, false, false, u"", true, u"", true, false},
        OptionsCase{u"/p x.txt /pi", false, false, false, u"", true, u"x.txt", true, false},
        OptionsCase{u"/q /e x", true, false, true, u"x", false, u"", false, false},
        OptionsCase{u"/e a /e b /p c /p d", false, false, true, u"b", true, u"d", false, false},
        OptionsCase{u"/i /pi", false, false, false, u"", false, u"", false, true},
        OptionsCase{u"/pi /i", false, false, false, u"", true, u"", true, false}));

TEST(ParseCommandLineTest, ResetsEverythingButInfoModeOnEachCall) {
    standin::SetProcessCommandLine(u"sp.exe /q /e x /p y /i");
    ParseCommandLine();
    standin::SetProcessCommandLine(u"sp.exe");
    ParseCommandLine();
    EXPECT_FALSE(runOptions.quiet);
    EXPECT_TRUE(runOptions.applyMode);
    EXPECT_FALSE(runOptions.extractMode);
    EXPECT_TRUE(runOptions.extractPath.empty());
    EXPECT_FALSE(runOptions.patchListMode);
    EXPECT_TRUE(runOptions.patchListFile.empty());
    EXPECT_TRUE(runOptions.infoMode);
    runOptions.infoMode = false;
}

}  // namespace
}  // namespace sp
