// The default run, end to end: a stand-in machine with products, a service
// pack built from a fixture package, and what the user and the installer saw.
#include <gtest/gtest.h>

#include <map>

#include "run_helpers.h"

namespace sp::test {
namespace {

const std::string kA = "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}";
const std::string kB = "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B42}";

// A box is expected by its flags and caption, and a piece of its body.
struct Box {
    std::string flagsAndCaption;
    std::string bodyPart;
};

const Box kAppliedEnglish{"0x00050040\tInstallation Successful",
                          "Quorvane Studio A has been updated."};
const Box kAppliedGerman{"0x00050040\tInstallation erfolgreich",
                         "Quorvane Studio A wurde aktualisiert"};
const Box kUpToDate{"0x00050010\tInstallation Unnecessary", "Your version of Quorvane Studio "};
const Box kWrongVersion{"0x00050010\tInstallation Error",
                        "not designed for the version of Quorvane Studio A "};
const Box kNotFound{"0x00050010\tInstallation Error",
                    "expected Quorvane product could not be located"};
Box Failed(const std::string& code) {
    return {"0x00050010\tInstallation Error", "Error Code: " + code};
}

struct Product {
    std::string code, version, language = "1033", extra = "";
    std::string name = "Quorvane Studio A";
    int state = 5;
};

struct Scenario {
    std::string name;
    std::string package;
    std::vector<Product> products;
    std::vector<std::string> arguments;
    std::vector<Box> boxes;
    // Configure calls, as "code\tresult"; each is bracketed by the UI level calls.
    std::vector<std::string> configured;
    std::map<std::string, std::string> versionsAfter;
    bool tempPackageLeft;
};

void PrintTo(const Scenario& s, std::ostream* out) {
    *out << s.name;
}

class ApplyTest : public testing::TestWithParam<Scenario> {};

std::string ProductsFile(const std::vector<Product>& products) {
    std::string text;
    for (const Product& p : products) {
        text += "[" + p.code + "]\nState=" + std::to_string(p.state) + "\nProductName=" + p.name +
                "\nLanguage=" + p.language + "\nVersionString=" + p.version + "\n" + p.extra;
    }
    return text;
}

std::string VersionOf(const std::string& productsFile, const std::string& code) {
    const auto section = productsFile.find("[" + code + "]");
    const auto key = productsFile.find("VersionString=", section);
    return productsFile.substr(key + 14, productsFile.find('\n', key) - key - 14);
}

TEST_P(ApplyTest, ReportsEachOutcome) {
    const Scenario& s = GetParam();
    TempDir machine;
    const std::string tmp = machine / "tmp";
    ASSERT_EQ(::mkdir(tmp.c_str(), 0755), 0);
    WriteFileBytes(machine / "products.ini", ProductsFile(s.products));

    const ProcessResult run = RunProcess(
        ServicePack("sp_" + s.package), s.arguments,
        {"SP_STANDIN_PRODUCTS=" + (machine / "products.ini"), "TMP=" + tmp, "TEMP",
         "SP_STANDIN_MESSAGE_LOG=" + (machine / "boxes.log"),
         "SP_STANDIN_INSTALLER_LOG=" + (machine / "installer.log"), "SP_STANDIN_LOCALE=1033"},
        machine.path());
    EXPECT_EQ(run.exitCode, 0) << run.err;

    const auto boxes = LogLines(machine / "boxes.log");
    ASSERT_EQ(boxes.size(), s.boxes.size()) << run.err;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_TRUE(boxes[i].starts_with(s.boxes[i].flagsAndCaption + "\t")) << boxes[i];
        EXPECT_NE(boxes[i].find(s.boxes[i].bodyPart), std::string::npos) << boxes[i];
    }

    // Each configuration runs under basic UI without cancel, and the level
    // before it (the installer's default, 1) is restored afterwards.
    std::vector<std::string> expectedCalls;
    for (const std::string& call : s.configured) {
        const std::string code = call.substr(0, call.find('\t'));
        const std::string result = call.substr(call.find('\t') + 1);
        expectedCalls.push_back("MsiSetInternalUI\t0x00000023");
        expectedCalls.push_back("MsiConfigureProductExW\t" + code + "\t0\t5\tPATCH=\"" + tmp +
                                "/MSP2\" REBOOTPROMPT=S\t" + result);
        expectedCalls.push_back("MsiSetInternalUI\t0x00000001");
    }
    EXPECT_EQ(LogLines(machine / "installer.log"), expectedCalls);

    const std::string after = ReadFileBytes(machine / "products.ini");
    for (const auto& [code, version] : s.versionsAfter) EXPECT_EQ(VersionOf(after, code), version);
    EXPECT_EQ(FileExists(tmp + "/MSP2"), s.tempPackageLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, ApplyTest,
    testing::Values(
        Scenario{"Applicable",
                 "standard",
                 {{kA, "4.1.7.3"}},
                 {},
                 {kAppliedEnglish},
                 {kA + "\t0"},
                 {{kA, "4.1.20.0"}},
                 false},
        Scenario{"AppliedInTheProductsLanguage",
                 "standard",
                 {{kA, "4.1.7.3", "1031"}},
                 {},
                 {kAppliedGerman},
                 {kA + "\t0"},
                 {{kA, "4.1.20.0"}},
                 false},
        Scenario{"AlreadyUpToDateSaysSoInTheUserLanguage",
                 "standard",
                 {{kA, "4.1.20.0", "1031"}},
                 {},
                 {kUpToDate},
                 {},
                 {{kA, "4.1.20.0"}},
                 false},
        Scenario{"WrongVersion",
                 "two-targets",
                 {{kA, "4.1.8.0"}},
                 {},
                 {kWrongVersion},
                 {},
                 {{kA, "4.1.8.0"}},
                 false},
        Scenario{"SecondTargetVersionMatches",
                 "two-targets",
                 {{kA, "4.1.9.0"}},
                 {},
                 {kAppliedEnglish},
                 {kA + "\t0"},
                 {{kA, "4.1.20.0"}},
                 false},
        Scenario{"OneUpToDateOneApplicable",
                 "standard",
                 {{kA, "4.1.20.0"}, {kB, "4.1.7.3", "1033", "", "Quorvane Studio B"}},
                 {},
                 {{"0x00050040\tInstallation Successful", "Quorvane Studio B has been updated."}},
                 {kB + "\t0"},
                 {{kA, "4.1.20.0"}, {kB, "4.1.20.0"}},
                 false},
        Scenario{"UpgradeListedBeforeTheMatchStopsThePass",
                 "upgrade-listed-first",
                 {{kA, "4.1.7.3"}, {kB, "4.1.7.3"}},
                 {},
                 {{"0x00050010\tInstallation Unnecessary", "Quorvane Studio A is up-to-date"}},
                 {},
                 {{kA, "4.1.7.3"}, {kB, "4.1.7.3"}},
                 true},
        Scenario{"InstallerFailure",
                 "standard",
                 {{kA, "4.1.7.3", "1033", "ConfigureResult=1603\n"}},
                 {},
                 {Failed("1603")},
                 {kA + "\t1603"},
                 {{kA, "4.1.7.3"}},
                 false},
        Scenario{"RestartRequiredCountsAsFailure",
                 "standard",
                 {{kA, "4.1.7.3", "1033", "ConfigureResult=3010\n"}},
                 {},
                 {Failed("3010")},
                 {kA + "\t3010"},
                 {{kA, "4.1.7.3"}},
                 false},
        Scenario{"QuietShowsNoBoxButStillInstalls",
                 "standard",
                 {{kA, "4.1.7.3"}},
                 {"/q"},
                 {},
                 {kA + "\t0"},
                 {{kA, "4.1.20.0"}},
                 false},
        Scenario{"EmptyTargetEntryMatchesAnEmptyVersion",
                 "empty-target",
                 {{kA, ""}},
                 {},
                 {{"0x00050040\tInstallation Successful", "Quorvane Studio A"}},
                 {kA + "\t0"},
                 {{kA, "4.1.20.0"}},
                 false},
        Scenario{"EmptyCodeEndsTheList",
                 "empty-code",
                 {{kB, "4.1.7.3"}},
                 {},
                 {kNotFound},
                 {},
                 {{kB, "4.1.7.3"}},
                 true},
        Scenario{"AdvertisedProductIsTaken",
                 "standard",
                 {{kA, "4.1.7.3", "1033", "", "Quorvane Studio A", 1}},
                 {},
                 {kAppliedEnglish},
                 {kA + "\t0"},
                 {{kA, "4.1.20.0"}},
                 false},
        Scenario{"AbsentProductIsNot",
                 "standard",
                 {{kA, "4.1.7.3", "1033", "", "Quorvane Studio A", 2}},
                 {},
                 {kNotFound},
                 {},
                 {},
                 true},
        Scenario{"CodeListedTwiceIsHandledTwice",
                 "code-twice",
                 {{kA, "4.1.7.3"}},
                 {},
                 {kAppliedEnglish, kAppliedEnglish},
                 {kA + "\t0", kA + "\t0"},
                 {{kA, "4.1.20.0"}},
                 false},
        Scenario{"CodesAreUsedAsListed",
                 "spaced-code",
                 {{kB, "4.1.7.3"}},
                 {},
                 {kNotFound},
                 {},
                 {},
                 true},
        Scenario{"NothingInstalled", "standard", {}, {}, {kNotFound}, {}, {}, true},
        Scenario{"VersionsWithoutSeparator",
                 "no-separator",
                 {{kA, "4.1.7.3"}},
                 {},
                 {Failed("4316")},
                 {},
                 {},
                 true}));

}  // namespace
}  // namespace sp::test

namespace sp::test {
namespace {

ProcessResult RunOn(const TempDir& machine, const std::string& tmp) {
    return RunProcess(
        std::string(SP_E2E_BIN_DIR "/sp_standard"), {},
        {"SP_STANDIN_PRODUCTS=" + (machine / "products.ini"), "TMP=" + tmp, "TEMP",
         "SP_STANDIN_MESSAGE_LOG=" + (machine / "boxes.log"),
         "SP_STANDIN_INSTALLER_LOG=" + (machine / "installer.log"), "SP_STANDIN_LOCALE=1033"},
        machine.path());
}

TEST(ApplyCommandLineTest, LongTemporaryPathIsPassedWhole) {
    TempDir machine;
    std::string tmp = machine.path();
    while (tmp.size() < 900) {
        tmp += "/" + std::string(120, 't');
        ASSERT_EQ(::mkdir(tmp.c_str(), 0755), 0);
    }
    WriteFileBytes(machine / "products.ini",
                   "[{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}]\nState=5\nProductName=A\n"
                   "Language=1033\nVersionString=4.1.7.3\n");
    EXPECT_EQ(RunOn(machine, tmp).exitCode, 0);
    const std::string log = ReadFileBytes(machine / "installer.log");
    EXPECT_NE(log.find("\tPATCH=\"" + tmp + "/MSP2\" REBOOTPROMPT=S\t0\n"), std::string::npos)
        << log;
    EXPECT_NE(ReadFileBytes(machine / "products.ini").find("VersionString=4.1.20.0"),
              std::string::npos);
}

TEST(ApplyCommandLineTest, MalformedProductsFileIsReportedAndNeverRewritten) {
    TempDir machine;
    const std::string broken = "VersionString=4.1.7.3\n[{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}\n";
    WriteFileBytes(machine / "products.ini", broken);
    const ProcessResult run = RunOn(machine, machine.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.err.find("products"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(machine / "products.ini"), broken);
    // Nothing could be found installed on a machine the service cannot read.
    EXPECT_NE(ReadFileBytes(machine / "boxes.log").find("could not be located"), std::string::npos);
}

}  // namespace
}  // namespace sp::test
