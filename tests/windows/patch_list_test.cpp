// "/p" and "/pi" under Wine: the texts appended to a patch list as stored,
// or shown one box each, with Windows-1252 characters turned into the right
// UTF-16.
#include "windows_helpers.h"

namespace sp::test {
namespace {

std::string Text(const std::string& path) {
    return ReadFileBytes(path);
}
std::string FixtureText(const char* name) {
    return Text(std::string(SP_FIXTURES_DIR "/texts/") + name);
}

std::string Blocks() {
    return "*****\r\n" + FixtureText("first.txt") + "\r\n*****\r\n" + FixtureText("second.txt") +
           "\r\n";
}

using PatchListUnderWine = WineTest;

TEST_F(PatchListUnderWine, AppendsOneBlockPerTextAndNeverTruncates) {
    const std::string list = work() + "/list.txt";
    WriteFileBytes(list, "earlier export\r\n");
    EXPECT_EQ(Run("sp_standard", {"/p", "list.txt"}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(list), "earlier export\r\n" + Blocks());

    const WineRun second = Run("sp_standard", {"/P", WindowsPath(list)});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(ReadFileBytes(list), "earlier export\r\n" + Blocks() + Blocks());
    EXPECT_TRUE(MessageBoxes(second.relay).empty()) << TraceHead(second);
}

TEST_F(PatchListUnderWine, DefaultNameComesFromTheFirstProductCode) {
    EXPECT_EQ(Run("sp_standard", {"/p"}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(work() + "/patchlistFEDC.txt"), Blocks());
}

struct ShowCase {
    std::string name;
    std::string pack;
    std::vector<std::string> arguments;
    std::vector<std::string> texts;  // paths, in resource order
};

void PrintTo(const ShowCase& c, std::ostream* out) {
    *out << c.name;
}

class ShowUnderWine : public WineTest, public testing::WithParamInterface<ShowCase> {};

TEST_P(ShowUnderWine, ShowsEachTextInOrderAndWritesNoFile) {
    const ShowCase& c = GetParam();
    const WineRun run = Run(c.pack, c.arguments, {"LC_ALL=en_US.UTF-8"});
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<MessageBox> boxes = MessageBoxes(run.relay);
    ASSERT_EQ(boxes.size(), c.texts.size()) << TraceHead(run);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(c.texts[i]);
        // The texts run past what Wine prints of a string: compare the start.
        ExpectBox(boxes[i], "PatchList info in EXE", 0, Utf8FromWindows1252(Text(c.texts[i])));
    }
    EXPECT_FALSE(FileExists(work() + "/x.txt"));
    EXPECT_FALSE(FileExists(work() + "/patchlistFEDC.txt"));
}

const std::string kFirst = SP_FIXTURES_DIR "/texts/first.txt";
const std::string kSecond = SP_FIXTURES_DIR "/texts/second.txt";  // has a c-cedilla early on
const std::string kUmlauts = SP_WINDOWS_TEXTS_DIR "/umlauts-1031.txt";

INSTANTIATE_TEST_SUITE_P(
    Texts, ShowUnderWine,
    testing::Values(
        ShowCase{"Fixtures", "sp_standard", {"/pi"}, {kFirst, kSecond}},
        ShowCase{
            "QuietAndWithAList", "sp_standard", {"/q", "/p", "x.txt", "/PI"}, {kFirst, kSecond}},
        ShowCase{"Sample",
                 "servicepack",
                 {"/pi"},
                 {SP_SAMPLE_DIR "/patchinfo-1033.txt", SP_SAMPLE_DIR "/patchinfo-1031.txt"}},
        // A German text whose umlauts, sharp s and the characters where
        // Windows-1252 differs from Latin-1 come before Wine cuts the trace.
        ShowCase{"GermanCharacters", "sp_umlauts", {"/pi"}, {kUmlauts}}),
    [](const testing::TestParamInfo<ShowCase>& info) { return info.param.name; });

}  // namespace
}  // namespace sp::test
