#pragma once

#include <cstdint>
#include <string>

namespace sp::standin {

// One message-log line: flags as 0x and eight hex digits, caption and body
// with backslash, line feed, carriage return and tab escaped, tab-separated.
std::string FormatMessageLogLine(std::uint32_t flags, std::u16string_view caption,
                                 std::u16string_view body);

// The box as a person reads it on a terminal.
std::string DrawMessageBox(std::uint32_t flags, std::u16string_view caption,
                           std::u16string_view body);

}  // namespace sp::standin
