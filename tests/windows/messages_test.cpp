// Result messages under Wine: the string tables looked up in the thread
// locale, which the run sets to each product's language, or leaves at the
// user's when no product decides it.
#include "windows_helpers.h"

namespace sp::test {
namespace {

struct Product {
    std::string version, language;
};

struct MessageCase {
    std::string name;
    std::vector<Product> products;  // all of product A; at most one
    std::string userLocale;         // LC_ALL
    std::string caption;
    std::uint32_t flags;
    std::string body;  // whole
    // Thread locales set, in order ("00000407" is German).
    std::vector<std::string> threadLocales;
};

void PrintTo(const MessageCase& c, std::ostream* out) {
    *out << c.name;
}

class MessagesUnderWine : public WineTest, public testing::WithParamInterface<MessageCase> {};

TEST_P(MessagesUnderWine, ShowsTheTextInTheRightLanguage) {
    const MessageCase& c = GetParam();
    for (const Product& p : c.products)
        ASSERT_NO_FATAL_FAILURE(Install(kProductA, "Quorvane Studio A", p.version, p.language));

    const WineRun run = Run("sp_standard", {}, {"LC_ALL=" + c.userLocale});
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<MessageBox> boxes = ResultBoxes(run.relay);
    ASSERT_EQ(boxes.size(), 1u) << TraceHead(run);
    ExpectBox(boxes[0], c.caption, c.flags, c.body);

    std::vector<std::string> locales;
    for (const RelayCall& call : RelayCalls(run.relay, "kernel32.SetThreadLocale")) {
        ASSERT_EQ(call.arguments.size(), 1u);
        locales.push_back(call.arguments[0]);
        EXPECT_EQ(call.result, "00000001");  // accepted
    }
    EXPECT_EQ(locales, c.threadLocales);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, MessagesUnderWine,
    testing::Values(
        // A German product on an English user's machine: its language wins.
        MessageCase{"WrongVersionInTheGermanProductsLanguage",
                    {{"4.1.8.0", "1031"}},
                    "en_US.UTF-8",
                    "Installationsfehler",
                    0x00050010,
                    "Dieses Service Pack konnte nicht installiert werden, weil es nicht f\u00fcr "
                    "die auf diesem Computer installierte Version von Quorvane Studio A "
                    "vorgesehen ist.",
                    {"00000407"}},
        // And an English product on a German user's machine.
        MessageCase{"WrongVersionInTheEnglishProductsLanguage",
                    {{"4.1.8.0", "1033"}},
                    "de_DE.UTF-8",
                    "Installation Error",
                    0x00050010,
                    "This service pack could not be installed because it is not designed for "
                    "the version of Quorvane Studio A that is installed on your computer.",
                    {"00000409"}},
        // No product to take a language from: the user's.
        MessageCase{"NotFoundInTheUsersLanguage",
                    {},
                    "de_DE.UTF-8",
                    "Installationsfehler",
                    0x00050010,
                    "Das Service Pack konnte nicht installiert werden, weil das erwartete "
                    "Quorvane-Produkt auf diesem Computer nicht gefunden wurde.\nStellen Sie "
                    "sicher, dass Sie das richtige Service Pack f\u00fcr das Produkt verwenden.",
                    {}},
        MessageCase{"UpToDateInTheUsersLanguage",
                    {{"4.1.20.0", "1033"}},
                    "de_DE.UTF-8",
                    "Installation nicht erforderlich",
                    0x00050010,
                    "Ihre Version von Quorvane Studio A ist auf dem neuesten Stand. Dieses "
                    "Service Pack ist nicht erforderlich.",
                    {"00000409", "00000400"}},
        MessageCase{"AppliedInTheGermanProductsLanguage",
                    {{"4.1.7.3", "1031"}},
                    "en_US.UTF-8",
                    "Installation erfolgreich",
                    0x00050040,
                    "Das Service Pack wurde erfolgreich installiert, und Quorvane Studio A "
                    "wurde aktualisiert.",
                    {"00000407"}}),
    [](const testing::TestParamInfo<MessageCase>& info) { return info.param.name; });

}  // namespace
}  // namespace sp::test
