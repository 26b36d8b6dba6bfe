#include "platform/standin/installer_command_line.h"

#include <gtest/gtest.h>

namespace sp::standin {
namespace {

using Properties = std::vector<std::pair<std::u16string, std::u16string>>;

struct GoodLine {
    const char16_t* line;
    Properties properties;
};

void PrintTo(const GoodLine& c, std::ostream* out) {
    *out << testing::PrintToString(std::u16string(c.line));
}

class InstallerCommandLineTest : public testing::TestWithParam<GoodLine> {};

TEST_P(InstallerCommandLineTest, ReadsTheProperties) {
    // Whatever the caller had in the list before is not part of the answer.
    Properties properties = {{u"STALE", u"1"}};
    ASSERT_TRUE(ParseInstallerCommandLine(GetParam().line, properties));
    EXPECT_EQ(properties, GetParam().properties);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, InstallerCommandLineTest,
    testing::Values(
        GoodLine{u"", {}}, GoodLine{u"    ", {}},
        GoodLine{u"PATCH=\"C:\\tmp\\MSP2\" REBOOTPROMPT=S",
                 {{u"PATCH", u"C:\\tmp\\MSP2"}, {u"REBOOTPROMPT", u"S"}}},
        GoodLine{u"  A=1    B=2  ", {{u"A", u"1"}, {u"B", u"2"}}},
        // Empty values, quoted or not, also right before the next property.
        GoodLine{u"A=\"\" B= C=", {{u"A", u""}, {u"B", u""}, {u"C", u""}}},
        // Inside quotes: spaces and '=' are text, a doubled quote is one quote.
        GoodLine{u"PATCH=\"C:\\Program Files\\a b.msp\"",
                 {{u"PATCH", u"C:\\Program Files\\a b.msp"}}},
        GoodLine{u"A=\"x y=z\"", {{u"A", u"x y=z"}}},
        GoodLine{u"A=\"say \"\"hi\"\"\"", {{u"A", u"say \"hi\""}}},
        GoodLine{u"A=\"\"\"\"", {{u"A", u"\""}}},
        GoodLine{u"A=\"\"\"\"\"\" B=1", {{u"A", u"\"\""}, {u"B", u"1"}}},
        // Unquoted values run to the next space, whatever they contain.
        GoodLine{u"A=x=y B=x\"y C=\t", {{u"A", u"x=y"}, {u"B", u"x\"y"}, {u"C", u"\t"}}},
        GoodLine{u"PATCH=C:\\a.msp;C:\\b.msp", {{u"PATCH", u"C:\\a.msp;C:\\b.msp"}}},
        GoodLine{u"My.Prop_1=v _=w", {{u"My.Prop_1", u"v"}, {u"_", u"w"}}},
        GoodLine{u"A=\"Gr\u00fc\u00dfe \U0001F600\"", {{u"A", u"Gr\u00fc\u00dfe \U0001F600"}}},
        // Names are case-sensitive; a repeated name takes the later value at
        // the first position.
        GoodLine{u"a=1 A=2", {{u"a", u"1"}, {u"A", u"2"}}},
        GoodLine{u"A=1 B=2 A=\"3 3\"", {{u"A", u"3 3"}, {u"B", u"2"}}}));

TEST(InstallerCommandLineMalformedTest, RefusesTheLine) {
    const char16_t* const lines[] = {
        // A token without '='.
        u"A",
        u"A=1 B",
        u"A B=1",
        // No name, or one with characters no property name has.
        u"=1",
        u"A=1 =2",
        u"A =1",
        u"A-B=1",
        u"\tA=1",
        u"\u00c4=1",
        // An unterminated quote; after "x"" the last quote is a literal one.
        u"A=\"x",
        u"A=\"",
        u"A=\"x\"\"",
        u"A=\"\"\"",
        // Text glued to the closing quote.
        u"A=\"x\"y",
        u"A=\"x\"\"\"y B=1",
    };
    for (const char16_t* line : lines) {
        Properties properties;
        EXPECT_FALSE(ParseInstallerCommandLine(line, properties))
            << testing::PrintToString(std::u16string(line));
    }
}

}  // namespace
}  // namespace sp::standin
