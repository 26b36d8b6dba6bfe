// Turns fuzzer bytes into UTF-16 so that the characters parsers care about
// (blanks, quotes, slashes, digits) are one byte each, while any code unit
// at all stays reachable: 0xFF is followed by a unit's two bytes, low first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sp::fuzz {

inline std::u16string BytesToUtf16(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != 0xFF) {
            text += static_cast<char16_t>(data[i]);
        } else if (i + 2 < size) {
            text += static_cast<char16_t>(data[i + 1] | (data[i + 2] << 8));
            i += 2;
        } else {
            break;
        }
    }
    return text;
}

}  // namespace sp::fuzz
