#pragma once

#include <cstdint>
#include <string_view>

namespace sp::standin {

// The user's default locale: SP_STANDIN_LOCALE (a decimal LCID) when set,
// else the language of LC_ALL, LC_MESSAGES or LANG ("de_DE.UTF-8" is 1031),
// else 1033.
std::uint32_t UserDefaultLocale();

// The LCID of a POSIX locale name such as "pt_BR.UTF-8" or "de"; 0 when unknown.
std::uint32_t LocaleFromPosixName(std::string_view name);

}  // namespace sp::standin
