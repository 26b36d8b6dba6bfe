// Feeds arbitrary bytes to the stand-in's compound-file reader as a whole
// file. Seed it with tests/fixtures/compound/*.msi and *.cfb.
#include <cstddef>
#include <cstdint>

#include "platform/standin/compound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sp::standin::SummaryInformation info;
    const std::uint32_t result =
        sp::standin::ReadSummaryInformation(sp::standin::MemoryByteSource(data, size), info);
    // A failed read leaves nothing behind.
    if (result != 0 && !info.properties.empty()) __builtin_trap();
    return 0;
}
