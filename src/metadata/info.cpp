#include "metadata/info.h"

#include "metadata/summary.h"
#include "payload/extract.h"

namespace sp {

void ShowPatchInfo() {
    // Its own copy of the package, left in the temporary directory.
    WideString packagePath;
    ExtractPatchPackage(packagePath);

    WideString products;
    ReadTargetProductCodes(packagePath, products);
    // One code per line. A ";" in front is left alone once it is the last one.
    for (std::size_t last = products.rfind(u';'); last != WideString::npos && last > 0;
         last = products.rfind(u';')) {
        products[products.find(u';')] = u'\n';
    }

    WideString upgrade;
    WideString targets;
    ReadPatchVersions(packagePath, upgrade, targets);

    const WideString text =
        u"Products:\n" + products + u"\nTarget:\n\t" + targets + u"\nUpgrade:\n\t" + upgrade;
    host::MessageBoxW(nullptr, text.c_str(), u"Info",
                      host::MB_TOPMOST | host::MB_SETFOREGROUND | host::MB_ICONWARNING);
}

}  // namespace sp
