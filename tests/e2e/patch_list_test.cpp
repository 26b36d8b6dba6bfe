// "/p" and "/pi": the patch-information texts, appended as stored or shown.
#include <gtest/gtest.h>

#include "run_helpers.h"

namespace sp::test {
namespace {

std::string Text(const char* name) {
    return ReadFileBytes(std::string(SP_TEXTS_DIR "/") + name);
}

std::string Blocks() {
    return "*****\r\n" + Text("first.txt") + "\r\n*****\r\n" + Text("second.txt") + "\r\n";
}

TEST(PatchListTest, AppendsOneBlockPerTextAndNeverTruncates) {
    Machine machine;
    WriteFileBytes(machine.dir / "list.txt", "earlier export\r\n");
    EXPECT_EQ(machine.Run("sp_standard", {"/p", "list.txt"}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(machine.dir / "list.txt"), "earlier export\r\n" + Blocks());
    machine.Run("sp_standard", {"/P", machine.dir / "list.txt"});
    EXPECT_EQ(ReadFileBytes(machine.dir / "list.txt"), "earlier export\r\n" + Blocks() + Blocks());
    EXPECT_TRUE(machine.Boxes().empty());
}

TEST(PatchListTest, DefaultNameComesFromTheFirstProductCode) {
    Machine machine;
    machine.Run("sp_standard", {"/p"});
    EXPECT_EQ(ReadFileBytes(machine.dir / "patchlistFEDC.txt"), Blocks());
    // The copy of the package the name was read from stays behind.
    EXPECT_TRUE(FileExists(machine.tmp + "/MSP2"));
}

TEST(PatchListTest, UnreadableSummaryGivesTheFixedName) {
    Machine machine;
    machine.Run("sp_random_texts", {"/p"});
    EXPECT_EQ(ReadFileBytes(machine.dir / "patchlist.txt"), Blocks());
}

TEST(PatchListTest, MissingDirectoryIsReportedAndWritesNothing) {
    Machine machine;
    const ProcessResult run = machine.Run("sp_standard", {"/p", machine.dir / "no/dir/list.txt"});
    EXPECT_EQ(run.exitCode, 0);
    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(
        boxes[0].starts_with("0x00050010\tInstallation Error\tYou must supply a patch list"));
    EXPECT_FALSE(FileExists(machine.dir / "no"));
}

TEST(PatchListTest, PackWithoutTextsSaysSo) {
    Machine machine;
    machine.Run("sp_random", {"/p", "list.txt"});
    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("You must supply a patch list"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(machine.dir / "list.txt"), "");
}

TEST(PatchListTest, FullDiskFailsQuietly) {
    Machine machine;
    EXPECT_EQ(machine.Run("sp_standard", {"/p", "/dev/full"}).exitCode, 0);
    EXPECT_TRUE(machine.Boxes().empty());
}

// The texts are Windows-1252; the boxes get them as UTF-16, which the log
// writes as UTF-8.
std::string Shown(const char* name) {
    std::string text = Text(name);
    std::string utf8;
    for (unsigned char c : text) {
        if (c == 0xE7) {
            utf8 += "\xC3\xA7";  // ç
        } else if (c == 0x92) {
            utf8 += "\xE2\x80\x99";  // ’
        } else if (c == '\r') {
            utf8 += "\\r";
        } else if (c == '\n') {
            utf8 += "\\n";
        } else if (c == '\\') {
            utf8 += "\\\\";
        } else {
            utf8 += static_cast<char>(c);
        }
    }
    return "0x00000000\tPatchList info in EXE\t" + utf8;
}

TEST(PatchListTest, ShowModeShowsEachTextEvenWhenQuietAndWritesNoFile) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"/pi"}, {"/q", "/pi"}, {"/p", "x.txt", "/pi"}}) {
        Machine machine;
        EXPECT_EQ(machine.Run("sp_standard", arguments).exitCode, 0);
        EXPECT_EQ(machine.Boxes(),
                  (std::vector<std::string>{Shown("first.txt"), Shown("second.txt")}));
        EXPECT_FALSE(FileExists(machine.dir / "x.txt"));
        EXPECT_FALSE(FileExists(machine.dir / "patchlist.txt"));
        EXPECT_FALSE(FileExists(machine.dir / "patchlistFEDC.txt"));
    }
}

}  // namespace
}  // namespace sp::test
