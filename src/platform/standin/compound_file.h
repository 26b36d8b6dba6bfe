// The stand-in's reader of installer package summaries: the summary
// information property set of a compound file, found through the file's
// allocation tables and directory. It reads only the sectors on the way to
// that one stream, so a package of gigabytes opens as fast as a small one, and
// it trusts no size, count, offset or sector id in the file: anything that
// does not fit is ERROR_INSTALL_PACKAGE_INVALID, never a crash, a hang or an
// allocation larger than the file itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace sp::standin {

// Bytes read at offsets. `readAt` returns false unless the whole range
// [offset, offset + n) could be read.
struct ByteSource {
    std::uint64_t size = 0;
    std::function<bool(std::uint64_t offset, void* out, std::size_t n)> readAt;
};

// Reads an open file with pread; the descriptor stays the caller's.
ByteSource FileByteSource(int fd, std::uint64_t size);
// Reads `size` bytes at `data`, which must outlive the source.
ByteSource MemoryByteSource(const void* data, std::size_t size);

// Property types as the property set stores them.
inline constexpr std::uint32_t VT_I2 = 2;
inline constexpr std::uint32_t VT_I4 = 3;
inline constexpr std::uint32_t VT_LPSTR = 30;
inline constexpr std::uint32_t VT_LPWSTR = 31;
inline constexpr std::uint32_t VT_FILETIME = 64;

// One property: `integer` for VT_I2 and VT_I4, `fileTime` (100 ns since
// 1601) for VT_FILETIME, `text` for both string types, cut at the first NUL.
// The code page (property 1) is stored as VT_I2 but is an unsigned number:
// 65001 reads as 65001.
struct SummaryValue {
    std::uint32_t type = 0;
    std::int32_t integer = 0;
    std::uint64_t fileTime = 0;
    std::u16string text;
};

// The properties of the summary information section by property id. Types
// other than the five above are left out.
struct SummaryInformation {
    std::map<std::uint32_t, SummaryValue> properties;
};

// Reads the summary information of the compound file in `source` into `out`
// (replacing its contents). 0 on success, also for a well-formed file without
// a summary stream (no properties then); ERROR_INSTALL_PACKAGE_INVALID when
// the file is not a compound file or anything on the way is malformed.
// 8-bit strings are decoded by the set's code page: 1252 (also when none is
// given), 65001, 1200 (UTF-16LE) and 28591; under any other code page bytes
// above 0x7F become U+FFFD.
std::uint32_t ReadSummaryInformation(const ByteSource& source, SummaryInformation& out);
// The same for the file at `utf8Path`; ERROR_OPEN_FAILED when it cannot be
// opened or is not a regular file.
std::uint32_t ReadSummaryInformationFile(const std::string& utf8Path, SummaryInformation& out);

}  // namespace sp::standin
