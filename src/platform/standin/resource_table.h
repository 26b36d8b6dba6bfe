// The stand-in's form of a module's resources: the build turns the resource
// scripts into one of these tables and links it into the executable.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sp::standin {

struct BinaryResource {
    const char16_t* type;  // e.g. u"MSP", u"TXT"
    const char16_t* name;  // a string name, or null when the resource has a number
    std::uint32_t id;      // the number when `name` is null
    std::uint16_t language;
    const unsigned char* data;
    const unsigned char* end;
};

struct StringResource {
    std::uint16_t language;
    std::uint32_t id;
    const char16_t* text;
    std::size_t length;
};

struct ResourceTable {
    const BinaryResource* binaries;
    std::size_t binaryCount;
    const StringResource* strings;
    std::size_t stringCount;
};

}  // namespace sp::standin
