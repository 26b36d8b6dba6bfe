// The property syntax of an installer command line, as the stand-in's
// MsiConfigureProductExW reads it: PATCH="C:\tmp\MSP2" REBOOTPROMPT=S
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sp::standin {

// Reads `line` as NAME=value pairs separated by spaces (any number, also
// before the first and after the last). NAME is ASCII letters, digits, '_'
// and '.', kept as written (property names are case-sensitive). A value is
// either unquoted, up to the next space, or in double quotes, where "" stands
// for one quote; it may be empty (NAME= or NAME=""). A later NAME replaces
// the value of an earlier one, which keeps its first position.
//
// Returns false on a malformed line: a token without '=', a name that is
// empty or has other characters, an unterminated quote, or text right after a
// closing quote. The installer answers such a line with
// ERROR_INVALID_COMMAND_LINE.
bool ParseInstallerCommandLine(std::u16string_view line,
                               std::vector<std::pair<std::u16string, std::u16string>>& properties);

}  // namespace sp::standin
