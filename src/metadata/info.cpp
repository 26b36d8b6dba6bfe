#include "metadata/info.h"

namespace sp {

void ShowPatchInfo() {}

}  // namespace sp
