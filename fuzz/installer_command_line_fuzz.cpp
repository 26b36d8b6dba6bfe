// Arbitrary UTF-16 as an installer command line: parsing never crashes, and
// what it reads is read again the same from a line that quotes every value.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/standin/installer_command_line.h"

using Properties = std::vector<std::pair<std::u16string, std::u16string>>;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string line;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        line += static_cast<char16_t>(data[i] | (data[i + 1] << 8));

    Properties properties;
    if (!sp::standin::ParseInstallerCommandLine(line, properties)) {
        if (!properties.empty()) std::abort();
        return 0;
    }

    std::u16string quoted;
    for (const auto& [name, value] : properties) {
        if (name.empty()) std::abort();
        quoted += u' ' + name + u"=\"";
        for (char16_t c : value) {
            if (c == u'"') quoted += u'"';
            quoted += c;
        }
        quoted += u'"';
    }
    Properties reread;
    if (!sp::standin::ParseInstallerCommandLine(quoted, reread) || reread != properties)
        std::abort();
    return 0;
}
