#pragma once

#include <string>
#include <string_view>

namespace sp::standin {

// Invalid UTF-8 sets *ok to false (when given) and becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text, bool* ok = nullptr);
// A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace sp::standin
