// The installer service on the stand-in machine. Until it keeps products and
// reads packages, every operation answers as the service does for a package
// it cannot open and a product it does not know.
#include "platform/installer.h"

namespace sp::installer {

std::uint32_t MsiGetSummaryInformationW(MSIHANDLE, const char16_t*, std::uint32_t,
                                        MSIHANDLE* summary) {
    if (summary) *summary = 0;
    return ERROR_INSTALL_PACKAGE_INVALID;
}

std::uint32_t MsiSummaryInfoGetPropertyW(MSIHANDLE, std::uint32_t, std::uint32_t*, int*, FileTime*,
                                         char16_t*, std::uint32_t*) {
    return ERROR_INVALID_HANDLE;
}

std::uint32_t MsiCloseHandle(MSIHANDLE handle) {
    return handle == 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

int MsiQueryProductStateW(const char16_t*) {
    return INSTALLSTATE_UNKNOWN;
}

std::uint32_t MsiGetProductInfoW(const char16_t*, const char16_t*, char16_t*, std::uint32_t*) {
    return ERROR_UNKNOWN_PRODUCT;
}

std::uint32_t MsiSetInternalUI(std::uint32_t, void**) {
    return 5;
}

std::uint32_t MsiConfigureProductExW(const char16_t*, int, int, const char16_t*) {
    return ERROR_UNKNOWN_PRODUCT;
}

}  // namespace sp::installer
