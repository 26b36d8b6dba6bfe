#pragma once

#include "platform/host.h"

namespace sp {

// Writes the embedded package to `path`, or, when `path` is empty, to a new
// temporary file whose name is stored into `path` (even when the write then
// fails). Shows nothing; true only when every byte reached the file and the
// file was closed cleanly.
bool ExtractPatchPackage(WideString& path);

}  // namespace sp
