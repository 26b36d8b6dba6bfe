// "/i" under Wine: the package's summary read through the real installer
// library, shown in one box, whatever else the command line asks.
#include "windows_helpers.h"

namespace sp::test {
namespace {

const std::string kCodes = kProductA + "\n" + kProductB;

struct InfoCase {
    std::string name;
    std::string pack;
    std::vector<std::string> arguments;
    std::string body;
};

void PrintTo(const InfoCase& c, std::ostream* out) {
    *out << c.name;
}

class InfoUnderWine : public WineTest, public testing::WithParamInterface<InfoCase> {};

TEST_P(InfoUnderWine, ShowsProductsTargetsAndUpgrade) {
    const InfoCase& c = GetParam();
    const WineRun run = Run(c.pack, c.arguments);
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<MessageBox> boxes = MessageBoxes(run.relay);
    ASSERT_EQ(boxes.size(), 1u) << TraceHead(run);
    ExpectBox(boxes[0], "Info", 0x00050030, c.body);
    // Only reading: nothing is configured.
    EXPECT_TRUE(RelayCalls(run.relay, "msi.MsiConfigureProductExW").empty());
    EXPECT_FALSE(RelayCalls(run.relay, "msi.MsiGetSummaryInformationW").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Packages, InfoUnderWine,
    testing::Values(
        InfoCase{"Standard",
                 "sp_standard",
                 {"/i"},
                 "Products:\n" + kCodes + "\nTarget:\n\t4.1.7.3,\nUpgrade:\n\t4.1.20.0"},
        // Quiet silences result messages only.
        InfoCase{"Quiet",
                 "sp_standard",
                 {"/q", "/I"},
                 "Products:\n" + kCodes + "\nTarget:\n\t4.1.7.3,\nUpgrade:\n\t4.1.20.0"},
        InfoCase{"Sample",
                 "servicepack",
                 {"/i"},
                 "Products:\n" + kCodes + "\nTarget:\n\t4.1.7.3,\nUpgrade:\n\t4.1.20.0"},
        InfoCase{"TwoTargets",
                 "sp_two-targets",
                 {"/i"},
                 "Products:\n" + kCodes + "\nTarget:\n\t4.1.7.3,4.1.9.0,\nUpgrade:\n\t4.1.20.0"},
        InfoCase{"NoSeparator",
                 "sp_no-separator",
                 {"/i"},
                 "Products:\n" + kCodes + "\nTarget:\n\t\nUpgrade:\n\t"}),
    [](const testing::TestParamInfo<InfoCase>& info) { return info.param.name; });

}  // namespace
}  // namespace sp::test
