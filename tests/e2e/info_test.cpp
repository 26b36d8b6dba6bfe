// "/i": what the package targets, in one box, whatever else happens.
#include <gtest/gtest.h>

#include "run_helpers.h"

namespace sp::test {
namespace {

const std::string kCodes =
    "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}\\n{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B42}";

struct InfoCase {
    std::string servicePack;
    std::vector<std::string> arguments;
    std::string box;  // the log line: flags, caption, body with \n and \t escaped
};

void PrintTo(const InfoCase& c, std::ostream* out) {
    *out << c.servicePack;
}

class InfoTest : public testing::TestWithParam<InfoCase> {};

TEST_P(InfoTest, ShowsProductsTargetsAndUpgrade) {
    Machine machine;
    EXPECT_EQ(machine.Run(GetParam().servicePack, GetParam().arguments).exitCode, 0);
    EXPECT_EQ(machine.Boxes(), std::vector<std::string>{GetParam().box});
}

INSTANTIATE_TEST_SUITE_P(
    Packages, InfoTest,
    testing::Values(
        InfoCase{"sp_standard",
                 {"/i"},
                 "0x00050030\tInfo\tProducts:\\n" + kCodes +
                     "\\nTarget:\\n\\t4.1.7.3,\\nUpgrade:\\n\\t4.1.20.0"},
        // Quiet silences result messages only.
        InfoCase{"sp_standard",
                 {"/q", "/I"},
                 "0x00050030\tInfo\tProducts:\\n" + kCodes +
                     "\\nTarget:\\n\\t4.1.7.3,\\nUpgrade:\\n\\t4.1.20.0"},
        InfoCase{
            "sp_three-parts",
            {"/i"},
            "0x00050030\tInfo\tProducts:\\n" + kCodes + "\\nTarget:\\n\\tb;c\\nUpgrade:\\n\\ta"},
        InfoCase{"sp_no-separator",
                 {"/i"},
                 "0x00050030\tInfo\tProducts:\\n" + kCodes + "\\nTarget:\\n\\t\\nUpgrade:\\n\\t"},
        InfoCase{"sp_empty-code",
                 {"/i"},
                 "0x00050030\tInfo\tProducts:\\n{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}\\n\\n"
                 "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B42}\\nTarget:\\n\\t4.1.7.3,\\nUpgrade:\\n\\t"
                 "4.1.20.0"},
        InfoCase{"sp_random",
                 {"/i"},
                 "0x00050030\tInfo\tProducts:\\n\\nTarget:\\n\\t\\nUpgrade:\\n\\t"}));

TEST(InfoTest, ReadsAProductListLongerThanTheFirstBuffer) {
    Machine machine;
    machine.Run("sp_long-codes", {"/i"});
    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_GT(boxes[0].size(), 2048u);
    EXPECT_NE(boxes[0].find("\\n{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B42}\\nTarget:"),
              std::string::npos);
}

TEST(InfoTest, EachRunLeavesOneMoreTemporaryPackage) {
    Machine machine;
    machine.Run("sp_standard", {"/i"});
    machine.Run("sp_standard", {"/i"});
    // An empty "/e" value asks for a temporary file too: two names in one run.
    machine.Run("sp_standard", {"/e", "", "/i"});
    for (const char* name : {"MSP2", "MSP3", "MSP4", "MSP5"}) {
        ASSERT_TRUE(FileExists(machine.tmp + "/" + name)) << name;
        EXPECT_EQ(ReadFileBytes(machine.tmp + "/" + name),
                  ReadFileBytes(SP_FIXTURES_DIR "/packages/standard.msp"));
    }
    EXPECT_FALSE(FileExists(machine.tmp + "/MSP6"));
    EXPECT_EQ(machine.Boxes().size(), 3u);
}

}  // namespace
}  // namespace sp::test
