#include "payload/patch_list.h"

namespace sp {

bool ExportPatchList(WideString&) {
    return false;
}

}  // namespace sp
