#include "apply/apply.h"

#include "apply/targets.h"
#include "apply/versions.h"
#include "messages/messages.h"
#include "payload/extract.h"
#include "platform/installer.h"
#include "resource_ids.h"

namespace sp {
namespace {

constexpr char16_t kCommandLineFormat[] = u"PATCH=\"%s\" REBOOTPROMPT=S";
constexpr std::uint32_t kPatchUiLevel =
    installer::INSTALLUILEVEL_BASIC | installer::INSTALLUILEVEL_HIDECANCEL;

// The installer command line with the package path put in whole. A
// fixed-size buffer would cut a long temporary path and hand the installer
// a line without its closing quote.
WideString FormatCommandLine(const WideString& packagePath) {
    WideString line = kCommandLineFormat;
    line.replace(line.find(u"%s"), 2, packagePath);
    return line;
}

void ApplyPatchToProduct(TargetProduct& product, const WideString& packagePath) {
    product.commandLine = FormatCommandLine(packagePath);
    const std::uint32_t previous = installer::MsiSetInternalUI(kPatchUiLevel, nullptr);
    const std::uint32_t result = installer::MsiConfigureProductExW(
        product.productCode.c_str(), installer::INSTALLLEVEL_DEFAULT,
        installer::INSTALLSTATE_DEFAULT, product.commandLine.c_str());
    installer::MsiSetInternalUI(previous, nullptr);

    // A restart-required success counts as a failure too: the user is told
    // the code and decides.
    if (result == installer::ERROR_SUCCESS) {
        ShowResultMessage(IDS_PATCH_APPLIED);
    } else {
        host::SetLastError(result);
        ShowResultMessage(IDS_PATCH_FAILED);
    }
}

enum class Walk { Handled, StopPass };

// Finds the installed version among the target versions (each ends in ",")
// and applies the patch when it is there.
Walk HandleProduct(TargetProduct& product, const WideString& packagePath,
                   const ProductVersion& installed, const ProductVersion& upgrade) {
    WideString targets = product.targetVersions;
    for (std::size_t comma = targets.find(u','); comma != WideString::npos;
         comma = targets.find(u',')) {
        const ProductVersion candidate = ParseProductVersion(targets.substr(0, comma));
        if (VersionsEqual(installed, candidate)) {
            ApplyPatchToProduct(product, packagePath);
            return Walk::Handled;
        }
        if (VersionsEqual(candidate, upgrade)) {
            // The list reaches the version the patch brings before the
            // installed one: the product is past the patch.
            ShowResultMessage(IDS_UP_TO_DATE);
            return Walk::StopPass;
        }
        targets.erase(0, comma + 1);
    }
    ShowResultMessage(IDS_WRONG_VERSION);
    return Walk::Handled;
}

}  // namespace

bool ApplyPatch() {
    WideString packagePath;
    if (!ExtractPatchPackage(packagePath)) {
        ShowResultMessage(IDS_PATCH_FAILED);
        return false;
    }
    if (!DiscoverTargetProducts(packagePath)) return false;

    std::size_t upToDateCount = 0;
    for (const auto& product : targetProductList) {
        MessageProductName = product->productName;
        host::SetThreadLocale(static_cast<std::uint32_t>(host::_wtoi64(product->language.c_str())));

        const ProductVersion installed = ParseProductVersion(product->installedVersion);
        const ProductVersion upgrade = ParseProductVersion(product->upgradeVersion);
        if (VersionsEqual(installed, upgrade)) {
            ++upToDateCount;
            continue;
        }
        if (HandleProduct(*product, packagePath, installed, upgrade) == Walk::StopPass)
            return false;
    }

    if (upToDateCount == targetProductList.size()) {
        host::SetThreadLocale(host::LOCALE_USER_DEFAULT);
        ShowResultMessage(IDS_UP_TO_DATE);
    }
    host::DeleteFileW(packagePath.c_str());
    return true;
}

}  // namespace sp
