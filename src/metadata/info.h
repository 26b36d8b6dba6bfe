#pragma once

namespace sp {

// Shows what the embedded package targets in one box, even when quiet.
void ShowPatchInfo();

}  // namespace sp
