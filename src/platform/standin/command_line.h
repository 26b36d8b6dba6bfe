#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sp::standin {

// Splits a command line the way Windows does for CommandLineToArgvW: argument
// 0 by the program-name rule (up to the closing quote, or the first blank),
// then blanks separate arguments, 2n backslashes before a quote give n and
// toggle quoting, 2n+1 give n and a literal quote, and inside quotes every
// third quote of a run is a literal one.
std::vector<std::u16string> SplitCommandLine(std::u16string_view line);

// The inverse for the arguments a POSIX process receives: a line that
// SplitCommandLine turns back into exactly these arguments.
std::u16string JoinCommandLine(const std::vector<std::u16string>& arguments);

}  // namespace sp::standin
