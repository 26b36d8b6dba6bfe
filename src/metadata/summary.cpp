#include "metadata/summary.h"

#include <vector>

namespace sp {
namespace {

constexpr std::uint32_t kFirstReadCapacity = 2048;

bool ReadSummaryString(const WideString& packagePath, std::uint32_t property, WideString& value) {
    const PatchSummaryHandle summary = OpenPatchSummary(packagePath);
    if (!summary) return false;

    // The type, integer and time outputs are never looked at: only the
    // result code says whether the text is there.
    std::uint32_t dataType = 0;
    int integerValue = 0;
    installer::FileTime timeValue{};
    std::vector<char16_t> buffer(kFirstReadCapacity);
    std::uint32_t capacity = kFirstReadCapacity;
    std::uint32_t result = installer::MsiSummaryInfoGetPropertyW(
        summary.get(), property, &dataType, &integerValue, &timeValue, buffer.data(), &capacity);
    if (result == installer::ERROR_MORE_DATA) {
        // `capacity` now holds the length the text needs, without terminator.
        if (capacity >= 0x7FFFFFFF) return false;
        buffer.assign(static_cast<std::size_t>(capacity) + 1, u'\0');
        capacity += 1;
        result =
            installer::MsiSummaryInfoGetPropertyW(summary.get(), property, &dataType, &integerValue,
                                                  &timeValue, buffer.data(), &capacity);
    }
    if (result != installer::ERROR_SUCCESS) return false;
    buffer.back() = u'\0';
    value = buffer.data();
    return true;
}

}  // namespace

PatchSummaryHandle OpenPatchSummary(WideString packagePath) {
    // A path longer than the usual 260 characters is asked for again with
    // the room it needs: cut to fit, it would name another file.
    std::vector<char16_t> fullPath(host::MAX_PATH);
    std::uint32_t length = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto capacity = static_cast<std::uint32_t>(fullPath.size());
        length = host::GetFullPathNameW(packagePath.c_str(), capacity, fullPath.data());
        if (length < capacity) break;
        fullPath.assign(static_cast<std::size_t>(length) + 1, u'\0');
    }
    if (length == 0 || length >= fullPath.size()) return {};
    installer::MSIHANDLE handle = 0;
    if (installer::MsiGetSummaryInformationW(0, fullPath.data(), 0, &handle) !=
        installer::ERROR_SUCCESS)
        return {};
    return PatchSummaryHandle(handle);
}

bool ReadTargetProductCodes(const WideString& packagePath, WideString& codes) {
    return ReadSummaryString(packagePath, installer::PID_TEMPLATE, codes);
}

bool ReadPatchVersions(const WideString& packagePath, WideString& upgradeVersion,
                       WideString& targetVersions) {
    WideString keywords;
    if (!ReadSummaryString(packagePath, installer::PID_KEYWORDS, keywords)) return false;
    const std::size_t separator = keywords.find(u';');
    if (separator == WideString::npos || separator == 0) {
        host::SetLastError(host::ERROR_RESOURCE_NOT_PRESENT);
        return false;
    }
    upgradeVersion = keywords.substr(0, separator);
    targetVersions = keywords.substr(separator + 1);
    return true;
}

}  // namespace sp
