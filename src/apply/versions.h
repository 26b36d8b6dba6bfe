// Four-part product versions, compared for equality only: the patch says
// exactly which versions it accepts, so nothing ever asks which is newer.
#pragma once

#include <cstdint>

#include "platform/host.h"

namespace sp {

struct ProductVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
};

// "4.1.20.0" (or "4,1,20,0") to its parts. A part is read only when a "."
// follows it, except the fourth, which takes what follows the third ".";
// each part keeps the low 16 bits of its decimal value.
ProductVersion ParseProductVersion(WideString text);

bool VersionsEqual(const ProductVersion& a, const ProductVersion& b);

}  // namespace sp
