#include "apply/targets.h"

#include "messages/messages.h"
#include "metadata/summary.h"
#include "platform/installer.h"
#include "resource_ids.h"

namespace sp {

TargetProductList targetProductList;

namespace {

constexpr std::uint32_t kProductInfoCapacity = 1024;

// A product property's text, or empty when the service cannot give it whole.
WideString ReadProductInfo(const WideString& productCode, const char16_t* property) {
    char16_t buffer[kProductInfoCapacity];
    std::uint32_t capacity = kProductInfoCapacity;
    if (installer::MsiGetProductInfoW(productCode.c_str(), property, buffer, &capacity) !=
        installer::ERROR_SUCCESS)
        return {};
    buffer[kProductInfoCapacity - 1] = u'\0';
    return buffer;
}

}  // namespace

bool IsProductInstalled(const WideString& productCode) {
    const int state = installer::MsiQueryProductStateW(productCode.c_str());
    return state == installer::INSTALLSTATE_ADVERTISED || state == installer::INSTALLSTATE_DEFAULT;
}

WideString ReadInstalledVersion(const WideString& productCode) {
    return ReadProductInfo(productCode, u"VersionString");
}

void ReadProductNameAndLanguage(const WideString& productCode, WideString& productName,
                                WideString& language) {
    productName = ReadProductInfo(productCode, u"ProductName");
    language = ReadProductInfo(productCode, u"Language");
}

bool DiscoverTargetProducts(const WideString& packagePath) {
    TargetProduct templateRecord;
    if (!ReadPatchVersions(packagePath, templateRecord.upgradeVersion,
                           templateRecord.targetVersions)) {
        ShowResultMessage(IDS_PATCH_FAILED);
        return false;
    }
    WideString codes;
    if (!ReadTargetProductCodes(packagePath, codes)) {
        ShowResultMessage(IDS_PATCH_FAILED);
        return false;
    }

    // Every entry, the last included, ends in ";". The scan stops at the
    // first empty entry: a list is never expected to contain one.
    WideString remaining = codes + u';';
    for (std::size_t end = remaining.find(u';'); end != WideString::npos && end > 0;
         end = remaining.find(u';')) {
        auto record = std::make_unique<TargetProduct>(templateRecord);
        record->productCode = remaining.substr(0, end);
        if (IsProductInstalled(record->productCode)) {
            record->installedVersion = ReadInstalledVersion(record->productCode);
            ReadProductNameAndLanguage(record->productCode, record->productName, record->language);
            targetProductList.push_back(std::move(record));
        }
        remaining.erase(0, end + 1);
    }

    if (targetProductList.empty()) {
        ShowResultMessage(IDS_PRODUCT_NOT_FOUND);
        return false;
    }
    return true;
}

}  // namespace sp
