#pragma once

#include "platform/host.h"

namespace sp {

// Appends the patch-information texts to `fileName` (a default name is
// derived when it is empty), or shows them in boxes in "/pi" mode.
bool ExportPatchList(WideString& fileName);

}  // namespace sp
