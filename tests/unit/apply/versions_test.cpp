#include "apply/versions.h"

#include <gtest/gtest.h>

namespace sp {
namespace {

struct VersionCase {
    const char16_t* text;
    ProductVersion expected;
};

void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << testing::PrintToString(std::u16string(c.text));
}

class ParseProductVersionTest : public testing::TestWithParam<VersionCase> {};

TEST_P(ParseProductVersionTest, ReadsTheFourParts) {
    const ProductVersion v = ParseProductVersion(GetParam().text);
    const ProductVersion& e = GetParam().expected;
    EXPECT_EQ(v.major, e.major);
    EXPECT_EQ(v.minor, e.minor);
    EXPECT_EQ(v.build, e.build);
    EXPECT_EQ(v.revision, e.revision);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseProductVersionTest,
    testing::Values(
        VersionCase{u"4.1.20.0", {4, 1, 20, 0}}, VersionCase{u"4,1,20,5", {4, 1, 20, 5}},
        // A part counts only when a "." follows it.
        VersionCase{u"4.1.20", {4, 1, 0, 0}}, VersionCase{u"4.1", {4, 0, 0, 0}},
        VersionCase{u"4", {0, 0, 0, 0}}, VersionCase{u"", {0, 0, 0, 0}},
        VersionCase{u"4.1.20.7.9", {4, 1, 20, 7}}, VersionCase{u"4.x.20.1", {4, 0, 20, 1}},
        VersionCase{u" 4.1.20.0", {4, 1, 20, 0}}, VersionCase{u"70000.1.2.3", {4464, 1, 2, 3}},
        VersionCase{u"4.1.20.", {4, 1, 20, 0}}, VersionCase{u".5.6.7", {0, 5, 6, 7}},
        VersionCase{u"-1.2.3.4", {65535, 2, 3, 4}}, VersionCase{u"4.1.7.3,", {4, 1, 7, 3}},
        // Wider than 32 bits: still the low 16 bits, never undefined.
        VersionCase{u"4294967297.1.2.3", {1, 1, 2, 3}}));

TEST(VersionsEqualTest, ComparesAllFourParts) {
    EXPECT_TRUE(VersionsEqual(ParseProductVersion(u"4.1.20"), ParseProductVersion(u"4.1.99")));
    EXPECT_TRUE(VersionsEqual(ParseProductVersion(u"4.1.7.3"), ParseProductVersion(u"4,1,7,3")));
    EXPECT_FALSE(VersionsEqual({4, 1, 7, 3}, {4, 1, 7, 4}));
    EXPECT_FALSE(VersionsEqual({4, 1, 7, 3}, {4, 1, 8, 3}));
    EXPECT_FALSE(VersionsEqual({4, 1, 7, 3}, {4, 2, 7, 3}));
    EXPECT_FALSE(VersionsEqual({4, 1, 7, 3}, {5, 1, 7, 3}));
}

}  // namespace
}  // namespace sp
