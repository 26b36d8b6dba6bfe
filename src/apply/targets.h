// The installed products a patch package targets.
#pragma once

#include <memory>
#include <vector>

#include "platform/host.h"

namespace sp {

struct TargetProduct {
    WideString productCode;
    WideString upgradeVersion;
    WideString targetVersions;
    WideString installedVersion;
    WideString productName;
    WideString language;
    WideString commandLine;
};

// In the order the package lists the products; filled once per run and kept
// until the process ends.
using TargetProductList = std::vector<std::unique_ptr<TargetProduct>>;
extern TargetProductList targetProductList;

// Fills targetProductList with every listed product that is installed or
// advertised. Shows 300 or 307 itself and returns false when there is none.
bool DiscoverTargetProducts(const WideString& packagePath);

bool IsProductInstalled(const WideString& productCode);
WideString ReadInstalledVersion(const WideString& productCode);
void ReadProductNameAndLanguage(const WideString& productCode, WideString& productName,
                                WideString& language);

}  // namespace sp
