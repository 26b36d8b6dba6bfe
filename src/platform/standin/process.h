// What the stand-in entry point (and the tests) tell the stand-in binding
// about the process it runs in.
#pragma once

#include <string>

namespace sp::standin {

// The line GetCommandLineW hands back.
void SetProcessCommandLine(std::u16string commandLine);

}  // namespace sp::standin
