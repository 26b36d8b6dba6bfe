// The default run under Wine: products installed into the prefix by Wine's
// own installer, the service pack configuring them with its patch, and what
// the user and the installer saw.
#include <filesystem>

#include "windows_helpers.h"

namespace sp::test {
namespace {

struct Installed {
    std::string code, version, language = "1033", behaviour = "";
    std::string name = "Quorvane Studio A";
};

struct Box {
    std::string caption;
    std::uint32_t flags;
    std::string bodyStart;
};

const Box kAppliedGerman{
    "Installation erfolgreich", 0x00050040,
    "Das Service Pack wurde erfolgreich installiert, und Quorvane Studio A wurde aktualisiert."};
const Box kUpToDate{"Installation Unnecessary", 0x00050010,
                    "Your version of Quorvane Studio A is up-to-date"};
const Box kWrongVersion{"Installation Error", 0x00050010, "This service pack could not be"};
const Box kNotFound{"Installation Error", 0x00050010, "The service pack could not be"};
Box Failed(const std::string& code) {
    return {"Installation Error", 0x00050010, code};
}

struct Configured {
    std::string code;
    std::uint32_t result;
};

struct Scenario {
    std::string name;
    std::string pack;
    std::vector<Installed> products;
    std::vector<std::string> arguments;
    std::vector<Box> boxes;
    std::vector<Configured> configured;
    bool tempPackageLeft;
    // Boxes the installer showed itself while configuring (basic UI).
    std::vector<std::string> installerBoxes = {};
};

void PrintTo(const Scenario& s, std::ostream* out) {
    *out << s.name;
}

class ApplyUnderWine : public WineTest, public testing::WithParamInterface<Scenario> {};

TEST_P(ApplyUnderWine, ReportsEachOutcome) {
    const Scenario& s = GetParam();
    for (const Installed& p : s.products)
        ASSERT_NO_FATAL_FAILURE(Install(p.code, p.name, p.version, p.language, p.behaviour));

    const WineRun run = Run(s.pack, s.arguments, {"LC_ALL=en_US.UTF-8"});
    EXPECT_EQ(run.exitCode, 0) << TraceHead(run);

    const std::vector<MessageBox> boxes = ResultBoxes(run.relay);
    ASSERT_EQ(boxes.size(), s.boxes.size()) << TraceHead(run);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE("box " + std::to_string(i));
        EXPECT_EQ(boxes[i].caption, s.boxes[i].caption);
        EXPECT_EQ(boxes[i].flags, s.boxes[i].flags) << std::hex << boxes[i].flags;
        if (s.boxes[i].caption == "Installation Error" && s.boxes[i].bodyStart.size() == 4) {
            // The installer's result, at the end of the failure text.
            EXPECT_NE(boxes[i].body.find("Error Code: " + s.boxes[i].bodyStart), std::string::npos)
                << boxes[i].body;
        } else {
            EXPECT_TRUE(boxes[i].body.starts_with(s.boxes[i].bodyStart)) << boxes[i].body;
        }
    }

    std::vector<std::string> installerBoxes;
    for (const MessageBox& box : InstallerBoxes(run.relay)) installerBoxes.push_back(box.body);
    EXPECT_EQ(installerBoxes, s.installerBoxes);

    // Each configuration runs under basic UI without cancel, with the level
    // before it restored afterwards, and names the extracted package in the
    // user's temporary folder.
    const std::string user = std::filesystem::path(TempFolder()).parent_path().filename();
    const std::string tempPrefix = "PATCH=\"C:\\users\\" + user + "\\Temp\\MSP";
    std::vector<std::string> expectedOrder;
    for (std::size_t i = 0; i < s.configured.size(); ++i)
        expectedOrder.insert(
            expectedOrder.end(),
            {"msi.MsiSetInternalUI", "msi.MsiConfigureProductExW", "msi.MsiSetInternalUI"});
    EXPECT_EQ(CallOrder(run.relay, {"msi.MsiSetInternalUI", "msi.MsiConfigureProductExW"}),
              expectedOrder);

    const auto ui = RelayCalls(run.relay, "msi.MsiSetInternalUI");
    const auto configure = RelayCalls(run.relay, "msi.MsiConfigureProductExW");
    ASSERT_EQ(configure.size(), s.configured.size()) << TraceHead(run);
    ASSERT_EQ(ui.size(), 2 * s.configured.size());
    std::vector<std::string> packages;
    for (std::size_t i = 0; i < configure.size(); ++i) {
        SCOPED_TRACE("configuration " + std::to_string(i));
        EXPECT_EQ(ui[2 * i].arguments, (std::vector<std::string>{"00000023", "00000000"}));
        // Restored to what the first call said was there before.
        ASSERT_EQ(ui[2 * i + 1].arguments.size(), 2u);
        EXPECT_EQ(ui[2 * i + 1].arguments[0], ui[2 * i].result);
        EXPECT_EQ(ui[2 * i + 1].result, "00000023");

        const RelayCall& c = configure[i];
        ASSERT_EQ(c.arguments.size(), 4u);
        EXPECT_EQ(c.arguments[0], s.configured[i].code);
        EXPECT_EQ(c.arguments[1], "00000000");  // INSTALLLEVEL_DEFAULT
        EXPECT_EQ(c.arguments[2], "00000005");  // INSTALLSTATE_DEFAULT
        const std::string& line = c.arguments[3];
        EXPECT_TRUE(line.starts_with(tempPrefix)) << line;
        EXPECT_TRUE(line.ends_with("\" REBOOTPROMPT=S")) << line;
        const std::string number =
            line.substr(tempPrefix.size(), line.size() - tempPrefix.size() - 16);
        EXPECT_FALSE(number.empty());
        EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << line;
        packages.push_back("MSP" + number);
        EXPECT_EQ(RelayNumber(c.result), s.configured[i].result);
    }

    // The extracted package goes once the pass is complete.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(TempFolder()))
        if (entry.path().filename().string().starts_with("MSP"))
            left.push_back(entry.path().filename());
    if (s.tempPackageLeft) {
        EXPECT_EQ(left.size(), 1u);
    } else {
        EXPECT_EQ(left, std::vector<std::string>{});
    }
    for (const std::string& package : packages)
        EXPECT_FALSE(FileExists(TempFolder() + "/" + package)) << package;
}

INSTANTIATE_TEST_SUITE_P(
    Machines, ApplyUnderWine,
    testing::Values(
        // A German product at the target version, an up-to-date one beside it.
        Scenario{"AppliedInTheProductsLanguage",
                 "sp_standard",
                 {{kProductA, "4.1.7.3", "1031"},
                  {kProductB, "4.1.20.0", "1033", "", "Quorvane Studio B"}},
                 {},
                 {kAppliedGerman},
                 {{kProductA, 0}},
                 false},
        Scenario{"AlreadyUpToDate",
                 "sp_standard",
                 {{kProductA, "4.1.20.0"}},
                 {},
                 {kUpToDate},
                 {},
                 false},
        Scenario{"WrongVersion",
                 "sp_standard",
                 {{kProductA, "4.1.8.0"}},
                 {},
                 {kWrongVersion},
                 {},
                 false},
        Scenario{"NothingInstalled", "sp_standard", {}, {}, {kNotFound}, {}, true},
        Scenario{"InstallerFailure",
                 "sp_standard",
                 {{kProductA, "4.1.7.3", "1033", "--fail-on-patch"}},
                 {},
                 {Failed("1603")},
                 {{kProductA, 1603}},
                 false,
                 {"This fixture product refuses every patch."}},
        Scenario{"RestartRequiredCountsAsFailure",
                 "sp_standard",
                 {{kProductA, "4.1.7.3", "1033", "--reboot-on-patch"}},
                 {},
                 {Failed("3010")},
                 {{kProductA, 3010}},
                 false},
        Scenario{"QuietShowsNoBoxButStillConfigures",
                 "sp_standard",
                 {{kProductA, "4.1.7.3"}},
                 {"/q"},
                 {},
                 {{kProductA, 0}},
                 false},
        Scenario{"UpgradeListedBeforeTheMatchStopsThePass",
                 "sp_upgrade-listed-first",
                 {{kProductA, "4.1.7.3"}},
                 {},
                 {kUpToDate},
                 {},
                 true}),
    [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
}  // namespace sp::test
