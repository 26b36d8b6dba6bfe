// A reader of Windows executables (PE32 and PE32+), just deep enough to check
// what the release executable is made of: its headers, the import directory
// and the resource tree. Every offset it reports is a file offset, so a test
// can change one field of a copy and read the copy again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace sp::test::pe {

// The file is not a PE image, or one of its structures points outside it.
struct FormatError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr std::uint16_t kMachineI386 = 0x014c;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kSubsystemGui = 2;
inline constexpr std::uint16_t kSubsystemConsole = 3;

struct Section {
    std::string name;
    std::uint32_t virtualAddress = 0, virtualSize = 0;
    std::uint32_t rawOffset = 0, rawSize = 0;
};

struct Import {
    std::string dll;  // as written in the file, e.g. "KERNEL32.dll"
    bool byOrdinal = false;
    std::uint16_t ordinal = 0;      // when byOrdinal
    std::string name;               // otherwise
    std::size_t thunkOffset = 0;    // the lookup-table entry this was read from
    std::size_t dllNameOffset = 0;  // the DLL name string
};

// A resource type or name: a number, or a string when `named`.
struct ResourceId {
    bool named = false;
    std::uint16_t number = 0;
    std::u16string name;

    bool Is(std::uint16_t n) const { return !named && number == n; }
    bool Is(std::u16string_view s) const { return named && name == s; }
    std::string ToString() const;  // "6" or "\"MSP\""
};

struct Resource {
    ResourceId type, name;
    std::uint16_t language = 0;
    std::size_t dataOffset = 0;  // the resource's bytes in the file
    std::uint32_t size = 0;
    // The three directory entries that lead to it (8 bytes each: id, then offset).
    std::size_t typeEntryOffset = 0, nameEntryOffset = 0, languageEntryOffset = 0;
};

struct Image {
    std::uint16_t machine = 0;
    bool pe32Plus = false;
    std::uint16_t subsystem = 0;
    std::size_t subsystemOffset = 0;
    std::vector<Section> sections;
    std::vector<Import> imports;      // in file order
    std::vector<Resource> resources;  // in tree order
    // The certificate table (an Authenticode signature), 0 when absent.
    std::uint32_t certificateOffset = 0, certificateSize = 0;
};

// Throws FormatError.
Image Parse(std::span<const std::uint8_t> file);

// Throws std::runtime_error when the file cannot be read.
std::vector<std::uint8_t> ReadFile(const std::string& path);

}  // namespace sp::test::pe
