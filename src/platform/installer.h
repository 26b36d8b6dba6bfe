// The Windows Installer operations the core uses. The Windows binding imports
// them from msi.dll by ordinal; the stand-in keeps its own product registry.
#pragma once

#include <cstdint>

namespace sp::installer {

using MSIHANDLE = std::uint32_t;

inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_OPEN_FAILED = 110;
inline constexpr std::uint32_t ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_UNKNOWN_PRODUCT = 1605;
inline constexpr std::uint32_t ERROR_UNKNOWN_PROPERTY = 1608;
inline constexpr std::uint32_t ERROR_BAD_CONFIGURATION = 1610;
inline constexpr std::uint32_t ERROR_INSTALL_FAILURE = 1603;
inline constexpr std::uint32_t ERROR_INSTALL_PACKAGE_INVALID = 1620;
inline constexpr std::uint32_t ERROR_INVALID_COMMAND_LINE = 1639;
inline constexpr std::uint32_t ERROR_PATCH_PACKAGE_OPEN_FAILED = 1635;
inline constexpr std::uint32_t ERROR_PATCH_PACKAGE_INVALID = 1636;
inline constexpr std::uint32_t ERROR_PATCH_TARGET_NOT_FOUND = 1642;
inline constexpr std::uint32_t ERROR_SUCCESS_REBOOT_REQUIRED = 3010;

inline constexpr int INSTALLSTATE_INVALID = -6;
inline constexpr int INSTALLSTATE_UNKNOWN = -1;
inline constexpr int INSTALLSTATE_ADVERTISED = 1;
inline constexpr int INSTALLSTATE_ABSENT = 2;
inline constexpr int INSTALLSTATE_DEFAULT = 5;
inline constexpr int INSTALLLEVEL_DEFAULT = 0;

inline constexpr std::uint32_t INSTALLUILEVEL_BASIC = 3;
inline constexpr std::uint32_t INSTALLUILEVEL_HIDECANCEL = 0x20;

inline constexpr std::uint32_t PID_KEYWORDS = 5;
inline constexpr std::uint32_t PID_TEMPLATE = 7;

// The same layout as the Windows FILETIME.
struct FileTime {
    std::uint32_t low;
    std::uint32_t high;
};

// Opens the summary information of the package file at `packagePath` (a
// full path) with no database. 0 and a handle when it can be read.
std::uint32_t MsiGetSummaryInformationW(MSIHANDLE database, const char16_t* packagePath,
                                        std::uint32_t updateCount, MSIHANDLE* summary);
// A property's value. For a string: 0 with the text in `buffer`, or
// ERROR_MORE_DATA with the needed length (no terminator) in `capacity`.
std::uint32_t MsiSummaryInfoGetPropertyW(MSIHANDLE summary, std::uint32_t property,
                                         std::uint32_t* dataType, int* integerValue,
                                         FileTime* timeValue, char16_t* buffer,
                                         std::uint32_t* capacity);
// Releases a handle from MsiGetSummaryInformationW.
std::uint32_t MsiCloseHandle(MSIHANDLE handle);
// The product's state; 1 (advertised) and 5 (installed) are the states taken.
int MsiQueryProductStateW(const char16_t* productCode);
// A product property ("VersionString", "ProductName", "Language") into
// `buffer`; ERROR_MORE_DATA with the needed length when it does not fit.
std::uint32_t MsiGetProductInfoW(const char16_t* productCode, const char16_t* property,
                                 char16_t* buffer, std::uint32_t* capacity);
// Sets the installer UI level; returns the previous one, to be passed back later.
std::uint32_t MsiSetInternalUI(std::uint32_t level, void** window);
// Reconfigures the product with `commandLine`; blocks until done. 0 on
// success, otherwise the installer's error code.
std::uint32_t MsiConfigureProductExW(const char16_t* productCode, int installLevel,
                                     int installState, const char16_t* commandLine);

}  // namespace sp::installer
