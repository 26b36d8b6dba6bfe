#pragma once

namespace sp {

// The default run: applies the embedded patch to every installed target
// product and reports each outcome. True when the pass ran to its end.
bool ApplyPatch();

}  // namespace sp
