#pragma once

#include "platform/host.h"

namespace sp {

// Creates a new file named `prefix` plus a decimal number, in the directory
// named by TMP when that directory exists, else in `directory` (which ends in
// a separator). Numbers start at 2 in each process and go up, skipping every
// name that exists; a name is taken only by creating its file exclusively, so
// a file or link planted under that name is never opened or followed. Gives
// up after 32767 tries. On success `path` holds the name and `file` is open
// for writing.
bool CreateTemporaryFile(const WideString& directory, const char16_t* prefix, WideString& path,
                         FileHandle& file);

}  // namespace sp
