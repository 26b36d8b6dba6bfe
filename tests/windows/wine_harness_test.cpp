// The Wine harness's reading of the relay trace, first over lines as Wine
// prints them, then against a real run of the probe program under Wine.
#include "wine_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "process.h"

namespace sp::test {
namespace {

struct UnescapeCase {
    const char* printed;
    std::string expected;
    bool cut;
};

class UnescapeTest : public ::testing::TestWithParam<UnescapeCase> {};

TEST_P(UnescapeTest, GivesUtf8) {
    const UnescapeCase& c = GetParam();
    bool cut = !c.cut;
    EXPECT_EQ(UnescapeRelayString(c.printed, &cut), c.expected) << c.printed;
    EXPECT_EQ(cut, c.cut) << c.printed;
}

INSTANTIATE_TEST_SUITE_P(
    Strings, UnescapeTest,
    ::testing::Values(UnescapeCase{R"(L"")", "", false}, UnescapeCase{R"(L"abc")", "abc", false},
                      UnescapeCase{R"(L"Gr\00f6\00dfe\n\"x\"")",
                                   "Gr\xC3\xB6\xC3\x9F"
                                   "e\n\"x\"",
                                   false},
                      UnescapeCase{R"(L"a\tb\rc\\d")", "a\tb\rc\\d", false},
                      UnescapeCase{R"(L"Z:\\tmp\\sp.msp")", "Z:\\tmp\\sp.msp", false},
                      // Control characters, DEL and anything past ASCII print as \XXXX.
                      UnescapeCase{R"(L"\0001\007f\0080\00ff\20ac")",
                                   "\x01\x7f\xC2\x80\xC3\xBF\xE2\x82\xAC", false},
                      UnescapeCase{R"(L"\00E4")", "\xC3\xA4", false},
                      // A surrogate pair is one character; a lone half cannot be encoded.
                      UnescapeCase{R"(L"\d83d\de00 end")", "\xF0\x9F\x98\x80 end", false},
                      UnescapeCase{R"(L"\de00x")", "\xEF\xBF\xBDx", false},
                      UnescapeCase{R"(L"x\d83d")", "x\xEF\xBF\xBD", false},
                      UnescapeCase{R"(L"\d83dx")", "\xEF\xBF\xBDx", false},
                      // What remains of a string Wine cut short.
                      UnescapeCase{R"(L"abcdefgh0a"...)", "abcdefgh0a", true},
                      UnescapeCase{R"(L"\00e4\00e4"...)", "\xC3\xA4\xC3\xA4", true},
                      // ANSI strings keep their bytes; Wine escapes them as \xNN.
                      UnescapeCase{R"("a\xe4\x01\n\"\\z")", "a\xe4\x01\n\"\\z", false}));

class UnescapeRejectsTest : public ::testing::TestWithParam<const char*> {};

TEST_P(UnescapeRejectsTest, Throws) {
    EXPECT_THROW(UnescapeRelayString(GetParam()), std::runtime_error) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Malformed, UnescapeRejectsTest,
                         ::testing::Values(R"(abc)", R"(L)", R"(L"abc)", R"(L"abc\")",
                                           R"(L"\00g1")", R"(L"\q")", R"(L"\12")", R"("\q")",
                                           R"("\x4")", R"(L"abc"x)", R"(L"abc"..)"));

struct ExpectedCall {
    std::string thread;
    std::vector<std::string> arguments;
    std::vector<bool> isString;
    std::vector<bool> cut;
    std::string result;
};

struct RelayCase {
    const char* name;
    std::string trace;
    std::string function;
    std::vector<ExpectedCall> expected;
};

class RelayCallsTest : public ::testing::TestWithParam<RelayCase> {};

TEST_P(RelayCallsTest, PairsAndReads) {
    const RelayCase& c = GetParam();
    const std::vector<RelayCall> calls = RelayCalls(c.trace, c.function);
    ASSERT_EQ(calls.size(), c.expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE("call " + std::to_string(i));
        EXPECT_EQ(calls[i].function, c.function);
        EXPECT_EQ(calls[i].thread, c.expected[i].thread);
        EXPECT_EQ(calls[i].arguments, c.expected[i].arguments);
        EXPECT_EQ(calls[i].isString, c.expected[i].isString);
        EXPECT_EQ(calls[i].cut, c.expected[i].cut);
        EXPECT_EQ(calls[i].result, c.expected[i].result);
    }
}

// Lines as wine 8 prints them (copied from real runs, some shortened).
const std::string kProbeTrace =
    "0024:trace:relay:load_list L\"RelayInclude\" = "
    "L\"user32.MessageBoxW;kernel32.SetThreadLocale;msi.*;kernel32.ExitProcess\"\n"
    "0024:Call PE DLL (proc=0000000170068C10,module=0000000170000000 "
    "L\"ntdll.dll\",reason=PROCESS_ATTACH,res=000000000021FB00)\n"
    "0024:Call KERNEL32.SetThreadLocale(00000407) ret=140001566\n"
    "0024:Ret  KERNEL32.SetThreadLocale() retval=00000001 ret=140001566\n"
    "0024:Call user32.MessageBoxW(00000000,140004014 L\"Gr\\00f6\\00dfe\\n\\\"x\\\"\",140004000 "
    "L\"Probe\",00010040) ret=14000158b\n"
    "0024:err:winediag:nodrv_CreateWindow Application tried to create a window, but no driver "
    "could be loaded.\n"
    "0044:Call window proc 00000002169EFD10 (hwnd=0000000000010020,msg=WM_NCCREATE,wp=00000000,"
    "lp=0021ec48)\n"
    "0024:Ret  user32.MessageBoxW() retval=ffffffff ret=14000158b\n"
    "0024:Call user32.MessageBoxW(00000000,140024020 L\"a,b) c\\r\\n\",00000000,00000010) "
    "ret=1400016c2\n"
    "0024:Ret  user32.MessageBoxW() retval=ffffffff ret=1400016c2\n"
    "0024:Call user32.MessageBoxW(00000000,00c940f0 L\"abcdefgh0abcdefgh1a\"...,140024018 "
    "L\"\",00000030) ret=14000169e\n"
    "0024:Ret  user32.MessageBoxW() retval=00000001 ret=14000169e\n";

const std::string kInstallerTrace =
    "011c:Call msi.MsiSetInternalUI(00000003,00000000) ret=14000174b\n"
    "011c:Ret  msi.MsiSetInternalUI() retval=00000001 ret=14000174b\n"
    "011c:Call msi.MsiConfigureProductExW(00c81510 L\"{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}\","
    "00000000,00000005,00c93b40 L\"PATCH=\\\"Z:\\\\tmp\\\\wh\\\\t.msp\\\" REINSTALL=ALL\") "
    "ret=140001821\n"
    "011c:Call user32.MessageBoxW(00000000,010b4190 L\"This product refuses patches.\",00000000,"
    "00000000) ret=392c8b38d\n"
    "011c:Ret  user32.MessageBoxW() retval=ffffffff ret=392c8b38d\n"
    "011c:Ret  msi.MsiConfigureProductExW() retval=00000643 ret=140001821\n"
    "011c:Call msi.MsiCloseAllHandles() ret=140001900\n";

INSTANTIATE_TEST_SUITE_P(
    Traces, RelayCallsTest,
    ::testing::Values(
        RelayCase{"MessageBoxes",
                  kProbeTrace,
                  "user32.MessageBoxW",
                  {{"0024",
                    {"00000000",
                     "Gr\xC3\xB6\xC3\x9F"
                     "e\n\"x\"",
                     "Probe", "00010040"},
                    {false, true, true, false},
                    {false, false, false, false},
                    "ffffffff"},
                   {"0024",
                    {"00000000", "a,b) c\r\n", "00000000", "00000010"},
                    {false, true, false, false},
                    {false, false, false, false},
                    "ffffffff"},
                   {"0024",
                    {"00000000", "abcdefgh0abcdefgh1a", "", "00000030"},
                    {false, true, true, false},
                    {false, true, false, false},
                    "00000001"}}},
        // Wine prints some modules in capitals.
        RelayCase{"ModuleCase",
                  kProbeTrace,
                  "kernel32.SetThreadLocale",
                  {{"0024", {"00000407"}, {false}, {false}, "00000001"}}},
        RelayCase{"OtherFunctionsIgnored", kProbeTrace, "user32.MessageBoxA", {}},
        RelayCase{"NoPrefixMatch", kInstallerTrace, "msi.MsiConfigureProductW", {}},
        RelayCase{"NoModuleMismatch", kInstallerTrace, "kernel32.MsiSetInternalUI", {}},
        RelayCase{"Installer",
                  kInstallerTrace,
                  "msi.MsiConfigureProductExW",
                  {{"011c",
                    {"{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}", "00000000", "00000005",
                     "PATCH=\"Z:\\tmp\\wh\\t.msp\" REINSTALL=ALL"},
                    {true, false, false, true},
                    {false, false, false, false},
                    "00000643"}}},
        // A box the installer shows while it works sits inside its call.
        RelayCase{"BoxInsideInstaller",
                  kInstallerTrace,
                  "user32.MessageBoxW",
                  {{"011c",
                    {"00000000", "This product refuses patches.", "00000000", "00000000"},
                    {false, true, false, false},
                    {false, false, false, false},
                    "ffffffff"}}},
        // No arguments, and no return: the process ended inside the call.
        RelayCase{
            "Unfinished", kInstallerTrace, "msi.MsiCloseAllHandles", {{"011c", {}, {}, {}, ""}}},
        // Returns pair with the call on their own thread.
        RelayCase{"Threads",
                  "0024:Call msi.MsiCloseHandle(00000001) ret=1\n"
                  "0030:Call msi.MsiCloseHandle(00000002) ret=1\n"
                  "0030:Ret  msi.MsiCloseHandle() retval=00000006 ret=1\n"
                  "0024:Ret  msi.MsiCloseHandle() retval=00000000 ret=1\n",
                  "msi.MsiCloseHandle",
                  {{"0024", {"00000001"}, {false}, {false}, "00000000"},
                   {"0030", {"00000002"}, {false}, {false}, "00000006"}}},
        // A call made from inside another call of the same function.
        RelayCase{"Nested",
                  "0024:Call msi.MsiCloseHandle(00000001) ret=1\n"
                  "0024:Call msi.MsiCloseHandle(00000002) ret=2\n"
                  "0024:Ret  msi.MsiCloseHandle() retval=00000005 ret=2\n"
                  "0024:Ret  msi.MsiCloseHandle() retval=00000006 ret=1\n",
                  "msi.MsiCloseHandle",
                  {{"0024", {"00000001"}, {false}, {false}, "00000006"},
                   {"0024", {"00000002"}, {false}, {false}, "00000005"}}},
        // With WINEDEBUG=+pid each line starts with the process id too; and
        // a trace written on Windows line ends still reads.
        RelayCase{"ProcessIds",
                  "0020:0024:Call KERNEL32.SetThreadLocale(00000411) ret=1\r\n"
                  "0020:0024:Ret  KERNEL32.SetThreadLocale() retval=00000001 ret=1\r\n",
                  "kernel32.SetThreadLocale",
                  {{"0020:0024", {"00000411"}, {false}, {false}, "00000001"}}}),
    [](const ::testing::TestParamInfo<RelayCase>& info) { return std::string(info.param.name); });

TEST(RelayCallsTest, RejectsAnUnreadableCall) {
    const std::vector<std::string> traces = {
        "0024:Call user32.MessageBoxW(00000000,140004014 L\"abc,00000000,00000000) ret=1\n",
        "0024:Call user32.MessageBoxW(00000000,140004014 L\"a\\qb\",00000000,00000000) ret=1\n",
        "0024:Call user32.MessageBoxW(00000000,00000000,00000000,00000000 ret=1\n",
        "0024:Call user32.MessageBoxW(0,0,0,0) ret=1\n0024:Ret  user32.MessageBoxW() ret=1\n"};
    for (const auto& trace : traces)
        EXPECT_THROW(RelayCalls(trace, "user32.MessageBoxW"), std::runtime_error) << trace;
}

TEST(MessageBoxesTest, ReadsCaptionBodyAndFlags) {
    const std::vector<MessageBox> boxes = MessageBoxes(kProbeTrace + kInstallerTrace);
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].caption, "Probe");
    EXPECT_EQ(boxes[0].body,
              "Gr\xC3\xB6\xC3\x9F"
              "e\n\"x\"");
    EXPECT_EQ(boxes[0].flags, 0x00010040u);
    EXPECT_FALSE(boxes[0].cut);
    EXPECT_EQ(boxes[1].caption, "");  // a null caption
    EXPECT_EQ(boxes[1].flags, 0x10u);
    EXPECT_TRUE(boxes[2].cut);
    EXPECT_EQ(boxes[2].caption, "");  // an empty one
    EXPECT_EQ(boxes[3].body, "This product refuses patches.");
    EXPECT_EQ(boxes[3].flags, 0u);
}

struct NumberCase {
    const char* printed;
    std::uint64_t value;
};

TEST(RelayNumberTest, ReadsHex) {
    for (const NumberCase& c :
         {NumberCase{"00000000", 0}, NumberCase{"00000643", 1603}, NumberCase{"00000bc2", 3010},
          NumberCase{"ffffffff", 0xffffffff}, NumberCase{"140004014", 0x140004014},
          NumberCase{"ABCDEF", 0xabcdef}})
        EXPECT_EQ(RelayNumber(c.printed), c.value) << c.printed;
    for (const char* bad : {"", "0x10", "12 ", "-1", "00000000000000001"})
        EXPECT_THROW(RelayNumber(bad), std::runtime_error) << bad;
}

struct ExitCase {
    const char* name;
    std::string trace;
    std::string exe;
    std::optional<std::uint32_t> expected;
};

class ExitCodeTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodeTest, FindsTheProgramsOwnExit) {
    EXPECT_EQ(ExitCodeFromRelay(GetParam().trace, GetParam().exe), GetParam().expected);
}

const std::string kLoaded =
    "0024:trace:loaddll:build_module Loaded L\"Z:\\\\tmp\\\\b\\\\probe.exe\" at 0000000140000000: "
    "native\n";

INSTANTIATE_TEST_SUITE_P(
    Traces, ExitCodeTest,
    ::testing::Values(
        ExitCase{"Own",
                 "002c:trace:loaddll:build_module Loaded L\"C:\\\\windows\\\\system32\\\\"
                 "wineboot.exe\" at 0000000140000000: builtin\n"
                 "002c:Call KERNEL32.ExitProcess(00000000) ret=2c7495148\n" +
                     kLoaded + "0030:Call KERNEL32.ExitProcess(00000001) ret=1\n" +
                     "0024:Call KERNEL32.ExitProcess(00000643) ret=228297eb8\n",
                 "probe.exe", 1603u},
        ExitCase{"NameCase", kLoaded + "0024:Call KERNEL32.ExitProcess(c0000005) ret=1\n",
                 "PROBE.EXE", 0xc0000005u},
        // A thread id from a process that ended before ours began.
        ExitCase{"ThreadIdReused",
                 "0024:Call KERNEL32.ExitProcess(00000007) ret=1\n" + kLoaded +
                     "0024:Call KERNEL32.ExitProcess(00000bc2) ret=1\n",
                 "probe.exe", 3010u},
        ExitCase{"Crashed", kLoaded + "0024:Call user32.MessageBoxW(0,0,0,0) ret=1\n", "probe.exe",
                 std::nullopt},
        ExitCase{"OtherProgram", kLoaded + "0024:Call KERNEL32.ExitProcess(00000000) ret=1\n",
                 "obe.exe", std::nullopt},
        ExitCase{"NoLoadTrace", "0024:Call KERNEL32.ExitProcess(00000000) ret=1\n", "probe.exe",
                 std::nullopt}),
    [](const ::testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

TEST(WindowsPathTest, MapsToTheRootDrive) {
    EXPECT_EQ(WindowsPath("/tmp/a b/x.msp"), "Z:\\tmp\\a b\\x.msp");
    EXPECT_EQ(WindowsPath("/"), "Z:\\");
}

// ---- under Wine ------------------------------------------------------------

class ProbeUnderWine : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const char* probe = std::getenv("SP_TEST_MINGW_PROBE_EXE");
        if (!probe || !*probe) return;
        probe_ = probe;
        const WinePrefix shared = PrepareWinePrefix(DefaultWinePrefixDir());
        // A private copy, so that ending its server disturbs no other test.
        scratch_ = new TempDir();
        prefix_ = ClonePrefix(shared, *scratch_ / "prefix");
    }
    static void TearDownTestSuite() {
        if (!scratch_) return;
        StopWineServer(prefix_);
        delete scratch_;
        scratch_ = nullptr;
    }
    void SetUp() override {
        if (probe_.empty()) GTEST_SKIP() << "SP_TEST_MINGW_PROBE_EXE is not set";
    }

    static inline std::string probe_;
    static inline TempDir* scratch_ = nullptr;
    static inline WinePrefix prefix_;
};

TEST_F(ProbeUnderWine, MessageBoxesRoundTrip) {
    const WineRun run = RunUnderWine(prefix_, probe_, {}, scratch_->path(), {"LC_ALL=de_DE.UTF-8"});
    ASSERT_EQ(run.exitCode, 0) << run.relay.substr(0, 4000);

    const std::vector<MessageBox> boxes = MessageBoxes(run.relay);
    ASSERT_EQ(boxes.size(), 3u) << run.relay.substr(0, 4000);
    EXPECT_EQ(boxes[0].caption, "Probe");
    EXPECT_EQ(boxes[0].body,
              "Gr\xC3\xB6\xC3\x9F"
              "e\n\"x\"");
    EXPECT_EQ(boxes[0].flags, 0x00010040u);  // MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND
    EXPECT_FALSE(boxes[0].cut);

    std::string longBody;
    for (int i = 0; i < 40; ++i) longBody += "0123456789";
    EXPECT_EQ(boxes[1].caption, "Long");
    EXPECT_TRUE(boxes[1].cut);
    EXPECT_GE(boxes[1].body.size(), 280u);
    EXPECT_LT(boxes[1].body.size(), longBody.size());
    EXPECT_EQ(longBody.compare(0, boxes[1].body.size(), boxes[1].body), 0) << boxes[1].body;
    EXPECT_EQ(boxes[1].flags, 0x10u);  // MB_ICONERROR

    EXPECT_EQ(boxes[2].caption, "");
    EXPECT_EQ(boxes[2].body, "Tab\tBack\\slash \xF0\x9F\x98\x80");
    EXPECT_EQ(boxes[2].flags, 0x34u);  // MB_YESNO | MB_ICONWARNING
    EXPECT_FALSE(boxes[2].cut);

    const std::vector<RelayCall> locale = RelayCalls(run.relay, "kernel32.SetThreadLocale");
    ASSERT_EQ(locale.size(), 1u);
    EXPECT_EQ(locale[0].arguments, std::vector<std::string>{"00000407"});
    EXPECT_EQ(locale[0].result, "00000001");
}

TEST_F(ProbeUnderWine, ExitCodeKeepsAllBits) {
    // Unix sees only the low byte: 1603 would arrive as 67, 3010 as 194.
    for (const std::uint32_t code : {0u, 1603u, 3010u, 256u}) {
        const WineRun run =
            RunUnderWine(prefix_, probe_, {std::to_string(code)}, scratch_->path(), {});
        EXPECT_EQ(run.exitCode, static_cast<int>(code)) << run.relay.substr(0, 4000);
    }
}

}  // namespace
}  // namespace sp::test
