// Result messages as the user reads them, from the real string tables.
#include "messages/messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>

#include "launcher/run_options.h"
#include "platform/standin/resource_table.h"
#include "platform/standin/utf.h"
#include "process.h"
#include "resource_ids.h"

extern const sp::standin::ResourceTable spModuleResources;

namespace sp {
namespace {

using standin::Utf16ToUtf8;

constexpr std::uint16_t kLanguages[] = {1028, 1029, 1031, 1033, 1036, 1038, 1040,
                                        1041, 1042, 1045, 1046, 1049, 2052, 3082};
constexpr std::uint32_t kIds[] = {300, 301, 306, 307, 308, 309, 310, 311, 312, 313};

class ResultMessageTest : public testing::Test {
  protected:
    void SetUp() override {
        runOptions = RunOptions{};
        runOptions.moduleHandle = &spModuleResources;
        MessageProductName.clear();
        setenv("SP_STANDIN_MESSAGE_LOG", (dir_ / "messages.log").c_str(), 1);
        host::SetThreadLocale(1033);
    }
    void TearDown() override { unsetenv("SP_STANDIN_MESSAGE_LOG"); }

    // The boxes shown so far, one log line each.
    std::vector<std::string> Boxes() const {
        std::vector<std::string> lines;
        if (!test::FileExists(dir_ / "messages.log")) return lines;
        const std::string log = test::ReadFileBytes(dir_ / "messages.log");
        for (std::size_t start = 0; start < log.size();) {
            const std::size_t end = log.find('\n', start);
            lines.push_back(log.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    test::TempDir dir_;
};

TEST_F(ResultMessageTest, EachIdHasItsBodyCaptionAndFlags) {
    struct Case {
        std::uint32_t id;
        const char* line;
    };
    const Case cases[] = {
        {300,
         "0x00050010\tInstallation Error\tA problem prevented the Service Pack from being "
         "installed. Contact your system administrator. \\n\\n Error Code: 1603"},
        {301,
         "0x00050040\tInstallation Successful\tThe service pack was successfully installed and "
         "Quorvane Studio has been updated."},
        {306,
         "0x00050010\tInstallation Unnecessary\tYour version of Quorvane Studio is up-to-date "
         "and this service pack is not necessary"},
        {307,
         "0x00050010\tInstallation Error\tThe service pack could not be installed because the "
         "expected Quorvane product could not be located on your computer.\\nMake sure that you "
         "are using the correct service pack for the product."},
        {308,
         "0x00050010\tInstallation Error\tThis service pack could not be installed because it is "
         "not designed for the version of Quorvane Studio that is installed on your computer."},
        {310,
         "0x00050010\tInstallation Error\tYou must supply a patch list with the command line to "
         "install this service pack installation."},
    };
    MessageProductName = u"Quorvane Studio";
    for (const Case& c : cases) {
        host::SetLastError(1603);
        ShowResultMessage(c.id);
    }
    const std::vector<std::string> boxes = Boxes();
    ASSERT_EQ(boxes.size(), std::size(cases));
    for (std::size_t i = 0; i < boxes.size(); ++i) EXPECT_EQ(boxes[i], cases[i].line);
}

TEST_F(ResultMessageTest, QuietShowsNothing) {
    runOptions.quiet = true;
    for (std::uint32_t id : {300, 301, 306, 307, 308, 310}) ShowResultMessage(id);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ResultMessageTest, ErrorCodeIsTheLastErrorValueAsSignedDecimal) {
    host::SetLastError(3010);
    ShowResultMessage(IDS_PATCH_FAILED);
    host::SetLastError(0x80070005);
    ShowResultMessage(IDS_PATCH_FAILED);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].ends_with("Error Code: 3010"));
    EXPECT_TRUE(boxes[1].ends_with("Error Code: -2147024891"));
}

TEST_F(ResultMessageTest, EmptyProductNameLeavesAGap) {
    ShowResultMessage(IDS_PATCH_APPLIED);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_TRUE(Boxes()[0].ends_with("successfully installed and  has been updated."));
}

TEST_F(ResultMessageTest, ThreadLocaleChoosesTheTable) {
    MessageProductName = u"Quorvane Studio";
    host::SetThreadLocale(1031);
    ShowResultMessage(IDS_WRONG_VERSION);
    // Greek has no table: the English one stands in.
    host::SetThreadLocale(1032);
    ShowResultMessage(IDS_WRONG_VERSION);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].starts_with("0x00050010\tInstallationsfehler\t")) << boxes[0];
    EXPECT_NE(boxes[0].find("Quorvane Studio"), std::string::npos);
    EXPECT_TRUE(boxes[1].starts_with("0x00050010\tInstallation Error\tThis service pack"));
}

TEST_F(ResultMessageTest, LongProductNameIsCutToTheBodyBuffer) {
    // The installer hands back names of up to 1024 characters; the body
    // buffer holds the format plus 512.
    MessageProductName = std::u16string(1000, u'N');
    ShowResultMessage(IDS_PATCH_APPLIED);
    WideString format;
    const int formatLength = LoadResourceString(IDS_PATCH_APPLIED, format);
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    const std::string body = boxes[0].substr(boxes[0].rfind('\t') + 1);
    EXPECT_EQ(body.size(), static_cast<std::size_t>(formatLength + 511));
    EXPECT_TRUE(body.starts_with("The service pack was successfully installed and NNN"));
}

TEST_F(ResultMessageTest, MissingStringLoadsEmpty) {
    WideString text = u"stale";
    EXPECT_EQ(LoadResourceString(999, text), 0);
    EXPECT_TRUE(text.empty());
}

// The compiled tables: every language has every string, and a translation
// keeps exactly the placeholders of the English one (an extra or missing %s
// would garble or crash a real box).
std::map<std::pair<std::uint16_t, std::uint32_t>, std::u16string> CompiledStrings() {
    std::map<std::pair<std::uint16_t, std::uint32_t>, std::u16string> strings;
    for (std::size_t i = 0; i < spModuleResources.stringCount; ++i) {
        const auto& s = spModuleResources.strings[i];
        strings[{s.language, s.id}] = std::u16string(s.text, s.length);
    }
    return strings;
}

std::string Placeholders(const std::u16string& text) {
    std::string found;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == u'%') found += static_cast<char>(text[++i]);
    if (!text.empty() && text.back() == u'%') found += '!';
    return found;
}

TEST(StringTablesTest, EveryLanguageHasEveryStringWithTheEnglishPlaceholders) {
    const auto strings = CompiledStrings();
    EXPECT_EQ(strings.size(), std::size(kLanguages) * std::size(kIds));
    for (std::uint16_t language : kLanguages) {
        for (std::uint32_t id : kIds) {
            const auto found = strings.find({language, id});
            ASSERT_NE(found, strings.end()) << "language " << language << " id " << id;
            const std::u16string& english = strings.at({1033, id});
            EXPECT_FALSE(found->second.empty());
            EXPECT_LT(found->second.size(), 256u) << "would be cut when loaded";
            EXPECT_EQ(Placeholders(found->second), Placeholders(english))
                << "language " << language << " id " << id;
            EXPECT_EQ(std::count(found->second.begin(), found->second.end(), u'\n'),
                      std::count(english.begin(), english.end(), u'\n'))
                << "language " << language << " id " << id;
        }
        EXPECT_NE(Utf16ToUtf8(strings.at({language, 307})).find("Quorvane"), std::string::npos);
    }
}

TEST(StringTablesTest, NoTwoLanguagesShareAText) {
    const auto strings = CompiledStrings();
    for (std::uint32_t id : kIds) {
        std::map<std::u16string, std::uint16_t> seen;
        for (std::uint16_t language : kLanguages) {
            const auto [it, inserted] = seen.emplace(strings.at({language, id}), language);
            EXPECT_TRUE(inserted) << "id " << id << ": " << language << " repeats " << it->second
                                  << " (" << Utf16ToUtf8(it->first) << ")";
        }
    }
}

}  // namespace
}  // namespace sp
