#include "apply/apply.h"

namespace sp {

bool ApplyPatch() {
    return false;
}

}  // namespace sp
