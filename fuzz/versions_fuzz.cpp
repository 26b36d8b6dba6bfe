// Any text as a product version, against a model written from the rule
// rather than from the parser: commas read as dots; the first three parts
// are read only when a dot follows each, the fourth takes the rest; a part
// is the low 16 bits of its decimal value after leading white space and an
// optional sign.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "apply/versions.h"
#include "fuzz_text.h"

namespace {

bool IsWhiteSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// Arithmetic modulo 2^16 from the start: the low bits of a sum and product
// do not depend on the high bits, so no wider type is needed.
std::uint16_t Low16(const std::u16string& part) {
    std::size_t i = 0;
    while (i < part.size() && IsWhiteSpace(part[i])) ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == u'+' || part[i] == u'-')) negative = part[i++] == u'-';
    std::uint16_t value = 0;
    for (; i < part.size() && part[i] >= u'0' && part[i] <= u'9'; ++i)
        value = static_cast<std::uint16_t>(value * 10u + (part[i] - u'0'));
    return negative ? static_cast<std::uint16_t>(0u - value) : value;
}

std::array<std::uint16_t, 4> Model(std::u16string text) {
    for (char16_t& c : text)
        if (c == u',') c = u'.';
    std::array<std::uint16_t, 4> parts{};
    std::size_t start = 0;
    for (int n = 0; n < 3; ++n) {
        const std::size_t dot = text.find(u'.', start);
        if (dot == std::u16string::npos) return parts;
        parts[n] = Low16(text.substr(start, dot - start));
        start = dot + 1;
    }
    parts[3] = Low16(text.substr(start));
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = sp::fuzz::BytesToUtf16(data, size);
    const sp::ProductVersion version = sp::ParseProductVersion(text);
    const std::array<std::uint16_t, 4> expected = Model(text);
    if (version.major != expected[0] || version.minor != expected[1] ||
        version.build != expected[2] || version.revision != expected[3])
        std::abort();
    if (!sp::VersionsEqual(version, sp::ParseProductVersion(text))) std::abort();
    return 0;
}
