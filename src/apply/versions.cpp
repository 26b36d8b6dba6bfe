#include "apply/versions.h"

#include <algorithm>

namespace sp {
namespace {

std::uint16_t PartValue(const WideString& text) {
    return static_cast<std::uint16_t>(host::_wtoi64(text.c_str()));
}

// Takes the text before the first "." as a part and drops it with the dot;
// false when there is no dot left.
bool TakePart(WideString& text, std::uint16_t& part) {
    const std::size_t dot = text.find(u'.');
    if (dot == WideString::npos) return false;
    part = PartValue(text.substr(0, dot));
    text.erase(0, dot + 1);
    return true;
}

}  // namespace

ProductVersion ParseProductVersion(WideString text) {
    ProductVersion version;
    std::replace(text.begin(), text.end(), u',', u'.');
    if (TakePart(text, version.major) && TakePart(text, version.minor) &&
        TakePart(text, version.build)) {
        version.revision = PartValue(text);
    }
    return version;
}

bool VersionsEqual(const ProductVersion& a, const ProductVersion& b) {
    return a.major == b.major && a.minor == b.minor && a.build == b.build &&
           a.revision == b.revision;
}

}  // namespace sp
