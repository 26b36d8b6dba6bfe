// The installer operations: straight calls into msi.dll.
//
// Our header comes before the system ones: theirs define the same constant
// names as macros, which would otherwise rewrite our declarations.
#include "platform/installer.h"

// clang-format off
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
// clang-format on

namespace sp::installer {
namespace {

const wchar_t* W(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

}  // namespace

std::uint32_t MsiGetSummaryInformationW(MSIHANDLE database, const char16_t* packagePath,
                                        std::uint32_t updateCount, MSIHANDLE* summary) {
    ::MSIHANDLE handle = 0;
    const UINT result = ::MsiGetSummaryInformationW(database, W(packagePath), updateCount, &handle);
    *summary = handle;
    return result;
}

std::uint32_t MsiSummaryInfoGetPropertyW(MSIHANDLE summary, std::uint32_t property,
                                         std::uint32_t* dataType, int* integerValue,
                                         FileTime* timeValue, char16_t* buffer,
                                         std::uint32_t* capacity) {
    UINT type = 0;
    INT integer = 0;
    ::FILETIME time{};
    DWORD size = *capacity;
    const UINT result = ::MsiSummaryInfoGetPropertyW(summary, property, &type, &integer, &time,
                                                     reinterpret_cast<wchar_t*>(buffer), &size);
    if (dataType) *dataType = type;
    if (integerValue) *integerValue = integer;
    if (timeValue) *timeValue = {time.dwLowDateTime, time.dwHighDateTime};
    *capacity = size;
    return result;
}

std::uint32_t MsiCloseHandle(MSIHANDLE handle) {
    return ::MsiCloseHandle(handle);
}

int MsiQueryProductStateW(const char16_t* productCode) {
    return ::MsiQueryProductStateW(W(productCode));
}

std::uint32_t MsiGetProductInfoW(const char16_t* productCode, const char16_t* property,
                                 char16_t* buffer, std::uint32_t* capacity) {
    DWORD size = *capacity;
    const UINT result = ::MsiGetProductInfoW(W(productCode), W(property),
                                             reinterpret_cast<wchar_t*>(buffer), &size);
    *capacity = size;
    return result;
}

std::uint32_t MsiSetInternalUI(std::uint32_t level, void** window) {
    return ::MsiSetInternalUI(static_cast<INSTALLUILEVEL>(level), reinterpret_cast<HWND*>(window));
}

std::uint32_t MsiConfigureProductExW(const char16_t* productCode, int installLevel,
                                     int installState, const char16_t* commandLine) {
    return ::MsiConfigureProductExW(W(productCode), installLevel,
                                    static_cast<INSTALLSTATE>(installState), W(commandLine));
}

}  // namespace sp::installer
