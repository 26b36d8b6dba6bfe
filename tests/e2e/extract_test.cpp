// "/e": the package comes out byte for byte, or not at all, and the process
// always exits 0 without a word.
#include <gtest/gtest.h>
#include <unistd.h>

#include "process.h"

namespace sp::test {
namespace {

const std::string kExe = SP_RANDOM_EXE;

std::string Package() {
    return ReadFileBytes(SP_RANDOM_PACKAGE);
}

ProcessResult Extract(const std::vector<std::string>& arguments, const TempDir& tmp) {
    return RunProcess(kExe, arguments, {"TMP=" + tmp.path(), "TEMP", "SP_STANDIN_MESSAGE_LOG"},
                      tmp.path());
}

TEST(ExtractTest, WritesThePackageByteForByte) {
    TempDir dir;
    const ProcessResult run = Extract({"/e", dir / "out.msp"}, dir);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFileBytes(dir / "out.msp"), Package());
}

TEST(ExtractTest, RelativePathResolvesAgainstTheWorkingDirectory) {
    TempDir dir;
    EXPECT_EQ(Extract({"/E", "out.msp"}, dir).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(dir / "out.msp"), Package());
}

TEST(ExtractTest, ReplacesAnExistingLongerFile) {
    TempDir dir;
    WriteFileBytes(dir / "out.msp", std::string(3 << 20, 'x'));
    EXPECT_EQ(Extract({"/e", dir / "out.msp"}, dir).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(dir / "out.msp"), Package());
}

TEST(ExtractTest, MissingDirectoryWritesNothingAndSaysNothing) {
    TempDir dir;
    const ProcessResult run = Extract({"/e", dir / "no/such/dir/out.msp"}, dir);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(dir.List(), std::vector<std::string>{});
}

TEST(ExtractTest, FullDiskIsAFailureNotACrash) {
    TempDir dir;
    const ProcessResult run = Extract({"/e", "/dev/full"}, dir);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
}

TEST(ExtractTest, TemporaryNamesStartAtMsp2InTmp) {
    TempDir dir;
    EXPECT_EQ(Extract({"/e"}, dir).exitCode, 0);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"MSP2"});
    EXPECT_EQ(ReadFileBytes(dir / "MSP2"), Package());
}

TEST(ExtractTest, PlantedNamesAreSkippedAndLeftUntouched) {
    TempDir dir;
    TempDir elsewhere;
    WriteFileBytes(dir / "MSP2", "planted file");
    WriteFileBytes(elsewhere / "victim", "victim");
    ASSERT_EQ(::symlink((elsewhere / "victim").c_str(), (dir / "MSP3").c_str()), 0);
    ASSERT_EQ(::symlink((elsewhere / "missing").c_str(), (dir / "MSP4").c_str()), 0);

    EXPECT_EQ(Extract({"/e"}, dir).exitCode, 0);

    EXPECT_EQ(ReadFileBytes(dir / "MSP2"), "planted file");
    EXPECT_EQ(ReadFileBytes(elsewhere / "victim"), "victim");
    EXPECT_FALSE(FileExists(elsewhere / "missing"));
    EXPECT_EQ(ReadFileBytes(dir / "MSP5"), Package());
}

TEST(ExtractTest, TemporaryDirectoryLongerThan1024CharactersFails) {
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() <= 1100) {
        deep += "/" + std::string(200, 'd');
        ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
    }
    const ProcessResult run = RunProcess(kExe, {"/e"}, {"TMP=" + deep, "TEMP"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(FileExists(deep + "/MSP2"));
}

}  // namespace
}  // namespace sp::test
