#include <gtest/gtest.h>

#include "platform/standin/command_line.h"

namespace sp::standin {
namespace {

struct SplitCase {
    const char16_t* line;
    std::vector<std::u16string> arguments;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << testing::PrintToString(std::u16string(c.line));
}

class SplitCommandLineTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsLikeWindows) {
    EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCommandLineTest,
    testing::Values(
        SplitCase{u"sp.exe", {u"sp.exe"}}, SplitCase{u"", {u""}},
        // The program name takes no escapes: a backslash before its closing
        // quote is part of the path.
        SplitCase{u"\"C:\\Program Files\\sp.exe\\\" /q", {u"C:\\Program Files\\sp.exe\\", u"/q"}},
        SplitCase{u"\"C:\\a b\\sp.exe\"/q", {u"C:\\a b\\sp.exe", u"/q"}},
        SplitCase{u"sp.exe  /e \t out.msp  ", {u"sp.exe", u"/e", u"out.msp"}},
        SplitCase{u"sp.exe /e \"C:\\out dir\\sp.msp\"", {u"sp.exe", u"/e", u"C:\\out dir\\sp.msp"}},
        SplitCase{u"sp.exe \"\"", {u"sp.exe", u""}},
        SplitCase{u"sp.exe a\\\\b c\\\\\\d", {u"sp.exe", u"a\\\\b", u"c\\\\\\d"}},
        // 2n backslashes before a quote: n of them, and the quote toggles.
        SplitCase{u"sp.exe \"a\\\\\" b", {u"sp.exe", u"a\\", u"b"}},
        // 2n+1: n of them and a literal quote.
        SplitCase{u"sp.exe a\\\"b", {u"sp.exe", u"a\"b"}},
        SplitCase{u"sp.exe \"a\\\\\\\"b c\"", {u"sp.exe", u"a\\\"b c"}},
        // Doubled quote inside quotes: a literal quote that ends the quoting.
        SplitCase{u"sp.exe \"a\"\"b c\"", {u"sp.exe", u"a\"b", u"c"}},
        SplitCase{u"sp.exe \"\"\"a\"\"\" b", {u"sp.exe", u"\"a\"", u"b"}},
        SplitCase{u"sp.exe ab\"c d\"e", {u"sp.exe", u"abc de"}},
        SplitCase{u"sp.exe \"unterminated arg", {u"sp.exe", u"unterminated arg"}}));

TEST(JoinCommandLineTest, RoundTripsThroughTheSplitter) {
    const std::vector<std::vector<std::u16string>> cases = {
        {u"/usr/bin/sp", u"/e", u"out dir/x.msp"},
        {u"sp", u"", u"a\"b", u"c\\", u"d\\\"e", u"tab\there", u"\\\\server\\share\\"},
        {u"s\"p", u"/q"},
    };
    for (auto arguments : cases) {
        const std::u16string line = JoinCommandLine(arguments);
        // A quote cannot be part of a Windows program name; it is dropped.
        std::erase(arguments[0], u'"');
        EXPECT_EQ(SplitCommandLine(line), arguments);
    }
}

}  // namespace
}  // namespace sp::standin
