// The process-wide settings of one run: what the command line asked for and
// the module whose resources every lookup uses.
#pragma once

#include "platform/host.h"

namespace sp {

struct RunOptions {
    ModuleHandle moduleHandle = nullptr;
    bool quiet = false;
    bool applyMode = true;
    bool extractMode = false;
    WideString extractPath;
    bool patchListMode = false;
    WideString patchListFile;
    bool showPatchListMode = false;
    // Only "/i" and "/pi" write it; it survives a second parse.
    bool infoMode = false;
};

extern RunOptions runOptions;

// Fills runOptions from the process's command line. Always true.
bool ParseCommandLine();

// The whole run: records the module, parses the options, runs the selected
// modes and returns the process exit code, which is always 0.
int WrapperMain(ModuleHandle moduleHandle);

}  // namespace sp
