// "/e" under Wine: the package comes out of the executable's resources byte
// for byte, over whatever file was there, silently.
#include "windows_helpers.h"

namespace sp::test {
namespace {

std::string SamplePackage() {
    return ReadFileBytes(SP_SAMPLE_DIR "/sample.msp");
}

struct ExtractCase {
    std::string name;
    bool windowsPath;     // the target given as Z:\... rather than relative
    std::string earlier;  // what the file held before; empty: no file
};

void PrintTo(const ExtractCase& c, std::ostream* out) {
    *out << c.name;
}

class ExtractUnderWine : public WineTest, public testing::WithParamInterface<ExtractCase> {};

TEST_P(ExtractUnderWine, WritesExactlyThePackage) {
    const ExtractCase& c = GetParam();
    const std::string out = work() + "/out.msp";
    if (!c.earlier.empty()) WriteFileBytes(out, c.earlier);

    const WineRun run =
        Run("servicepack", {"/e", c.windowsPath ? WindowsPath(out) : std::string("out.msp")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadFileBytes(out), SamplePackage());
    EXPECT_TRUE(MessageBoxes(run.relay).empty()) << TraceHead(run);
    EXPECT_TRUE(RelayCalls(run.relay, "msi.MsiConfigureProductExW").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ExtractUnderWine,
    testing::Values(ExtractCase{"Relative", false, ""}, ExtractCase{"WindowsPath", true, ""},
                    // Longer than the package: nothing of it may remain.
                    ExtractCase{"ReplacesALongerFile", true, std::string(3 << 20, 'x')}),
    [](const testing::TestParamInfo<ExtractCase>& info) { return info.param.name; });

using ExtractAgainUnderWine = WineTest;

TEST_F(ExtractAgainUnderWine, SecondRunReplacesTheFirstCopy) {
    const std::string out = work() + "/out.msp";
    EXPECT_EQ(Run("servicepack", {"/e", "out.msp"}).exitCode, 0);
    WriteFileBytes(out, SamplePackage() + "tail written in between");
    EXPECT_EQ(Run("servicepack", {"/E", WindowsPath(out)}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(out), SamplePackage());
}

}  // namespace
}  // namespace sp::test
