#include "platform/standin/locale.h"

#include <cstdlib>
#include <string>

namespace sp::standin {
namespace {

struct KnownLocale {
    std::string_view name;  // language, or language_TERRITORY
    std::uint32_t lcid;
};

// Whole names first so that a territory picks its own table; a bare language
// takes the territory Windows would pick for it.
constexpr KnownLocale kLocales[] = {
    {"zh_TW", 1028}, {"zh_HK", 3076}, {"zh_CN", 2052}, {"zh_SG", 4100}, {"pt_BR", 1046},
    {"pt_PT", 2070}, {"en_US", 1033}, {"en_GB", 2057}, {"es_ES", 3082}, {"es_MX", 2058},
    {"fr_FR", 1036}, {"fr_CA", 3084}, {"de_DE", 1031}, {"de_AT", 3079}, {"de_CH", 2055},
    {"it_IT", 1040}, {"cs", 1029},    {"de", 1031},    {"en", 1033},    {"es", 3082},
    {"fr", 1036},    {"hu", 1038},    {"it", 1040},    {"ja", 1041},    {"ko", 1042},
    {"pl", 1045},    {"pt", 1046},    {"ru", 1049},    {"zh", 2052},    {"el", 1032},
    {"nl", 1043},    {"sv", 1053},    {"da", 1030},    {"fi", 1035},    {"nb", 1044},
    {"tr", 1055},    {"uk", 1058},    {"he", 1037},    {"ar", 1025},    {"C", 1033},
    {"POSIX", 1033},
};

std::uint32_t Lookup(std::string_view name) {
    for (const KnownLocale& known : kLocales)
        if (known.name == name) return known.lcid;
    return 0;
}

}  // namespace

std::uint32_t LocaleFromPosixName(std::string_view name) {
    const std::size_t end = name.find_first_of(".@");
    if (end != std::string_view::npos) name = name.substr(0, end);
    if (name.empty()) return 0;
    if (std::uint32_t lcid = Lookup(name)) return lcid;
    const std::size_t underscore = name.find('_');
    return underscore == std::string_view::npos ? 0 : Lookup(name.substr(0, underscore));
}

std::uint32_t UserDefaultLocale() {
    if (const char* forced = std::getenv("SP_STANDIN_LOCALE"); forced && *forced) {
        char* end = nullptr;
        const unsigned long lcid = std::strtoul(forced, &end, 10);
        if (*end == '\0' && lcid > 0 && lcid <= 0xFFFFF) return static_cast<std::uint32_t>(lcid);
    }
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        // The first variable that is set decides, as it does for the C library.
        const std::uint32_t lcid = LocaleFromPosixName(value);
        return lcid != 0 ? lcid : 1033;
    }
    return 1033;
}

}  // namespace sp::standin
