#include "apply/apply.h"
#include "launcher/run_options.h"
#include "metadata/info.h"
#include "payload/extract.h"
#include "payload/patch_list.h"

namespace sp {

int WrapperMain(ModuleHandle moduleHandle) {
    runOptions.moduleHandle = moduleHandle;
    if (!ParseCommandLine()) return 0;

    if (runOptions.applyMode) {
        ApplyPatch();
        return 0;
    }
    // Extraction failures are silent: the user asked for a file, and either
    // finds it or does not.
    if (runOptions.extractMode) ExtractPatchPackage(runOptions.extractPath);
    if (runOptions.patchListMode) ExportPatchList(runOptions.patchListFile);
    if (runOptions.infoMode) ShowPatchInfo();
    return 0;
}

}  // namespace sp
