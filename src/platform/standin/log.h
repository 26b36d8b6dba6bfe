// The stand-in's logs, which let a test see what a person would have seen
// and what the installer was asked to do.
#pragma once

#include <string>
#include <string_view>

namespace sp::standin {

// UTF-8 with backslash, line feed, carriage return and tab written as \\,
// \n, \r and \t, so one record stays on one line.
std::string EscapeLogField(std::u16string_view text);

// Appends `line` to the file named by the environment variable, when set.
// Whole lines: two processes sharing a log never interleave within a line.
void AppendToLog(const char* variable, const std::string& line);

}  // namespace sp::standin
