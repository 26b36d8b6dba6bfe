// The installer service on the stand-in machine: summary information read
// from real package files, and a registry of installed products kept in the
// text file named by SP_STANDIN_PRODUCTS, which applying a patch changes.
#include "platform/installer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/host.h"
#include "platform/standin/compound_file.h"
#include "platform/standin/installer_command_line.h"
#include "platform/standin/log.h"
#include "platform/standin/products_file.h"
#include "platform/standin/utf.h"

namespace sp::installer {
namespace {

using standin::ProductRecord;
using standin::ProductsFile;
using standin::SummaryInformation;

constexpr std::uint32_t VT_LPSTR = 30;
constexpr std::uint32_t VT_LPWSTR = 31;
constexpr int INSTALLSTATE_INVALIDARG = -2;
constexpr std::uint32_t INSTALLUILEVEL_DEFAULT = 1;

std::map<MSIHANDLE, SummaryInformation>& SummaryHandles() {
    static std::map<MSIHANDLE, SummaryInformation> handles;
    return handles;
}
MSIHANDLE nextHandle = 1;
std::uint32_t uiLevel = INSTALLUILEVEL_DEFAULT;

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

// The installer takes only the braced form of a GUID as a product code.
bool IsProductCode(std::u16string_view code) {
    static constexpr char kShape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (code.size() != sizeof kShape - 1) return false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char16_t c = code[i];
        if (kShape[i] != 'X') {
            if (c != static_cast<char16_t>(kShape[i])) return false;
        } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
                     (c >= u'A' && c <= u'F'))) {
            return false;
        }
    }
    return true;
}

bool SameCode(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           host::_wcsicmp(std::u16string(a).c_str(), std::u16string(b).c_str()) == 0;
}

const char* ProductsPath() {
    const char* path = std::getenv("SP_STANDIN_PRODUCTS");
    return path && *path ? path : nullptr;
}

// The registry as it is now; false (and a word on standard error) when the
// file cannot be trusted, in which case it is never written.
bool LoadProducts(ProductsFile& products) {
    const char* path = ProductsPath();
    if (path == nullptr) return true;  // nothing installed
    std::string error;
    if (standin::LoadProductsFile(path, products, error)) return true;
    std::fprintf(stderr, "stand-in installer: %s\n", error.c_str());
    return false;
}

ProductRecord* FindProduct(ProductsFile& products, std::u16string_view code) {
    for (ProductRecord& record : products.products)
        if (SameCode(record.productCode, code)) return &record;
    return nullptr;
}

int StateOf(const ProductRecord& record) {
    const std::u16string* state = record.Find(u"State");
    return state ? static_cast<int>(host::_wtoi64(state->c_str())) : INSTALLSTATE_DEFAULT;
}

// Copies `text` by the installer's buffer protocol: the needed length
// (without terminator) in `capacity` and ERROR_MORE_DATA when it does not fit.
std::uint32_t CopyOut(std::u16string_view text, char16_t* buffer, std::uint32_t* capacity) {
    if (capacity == nullptr) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const std::uint32_t available = *capacity;
    *capacity = static_cast<std::uint32_t>(text.size());
    if (buffer == nullptr) return ERROR_SUCCESS;
    if (available <= text.size()) {
        if (available > 0) {
            std::memcpy(buffer, text.data(), (available - 1) * sizeof(char16_t));
            buffer[available - 1] = u'\0';
        }
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
    buffer[text.size()] = u'\0';
    return ERROR_SUCCESS;
}

const std::u16string* SummaryText(const SummaryInformation& summary, std::uint32_t property) {
    const auto found = summary.properties.find(property);
    if (found == summary.properties.end()) return nullptr;
    const auto type = found->second.type;
    return type == VT_LPSTR || type == VT_LPWSTR ? &found->second.text : nullptr;
}

// Applies the patch at `patchPath` to `record`: the patch must list the
// product; the product then reports the patch's upgrade version.
std::uint32_t ApplyPatchFile(const std::u16string& patchPath, ProductRecord& record) {
    char16_t fullPath[4096];
    const std::uint32_t length = host::GetFullPathNameW(patchPath.c_str(), 4096, fullPath);
    if (length == 0 || length >= 4096) return ERROR_PATCH_PACKAGE_OPEN_FAILED;
    SummaryInformation summary;
    if (standin::ReadSummaryInformationFile(standin::Utf16ToUtf8(fullPath), summary) != 0)
        return ERROR_PATCH_PACKAGE_OPEN_FAILED;

    const std::u16string* targets = SummaryText(summary, PID_TEMPLATE);
    const std::u16string* keywords = SummaryText(summary, PID_KEYWORDS);
    if (targets == nullptr || keywords == nullptr) return ERROR_PATCH_PACKAGE_INVALID;
    bool listed = false;
    for (std::size_t start = 0; start <= targets->size() && !listed;) {
        std::size_t end = targets->find(u';', start);
        if (end == std::u16string::npos) end = targets->size();
        listed =
            SameCode(std::u16string_view(*targets).substr(start, end - start), record.productCode);
        start = end + 1;
    }
    if (!listed) return ERROR_PATCH_TARGET_NOT_FOUND;
    const std::size_t separator = keywords->find(u';');
    if (separator == std::u16string::npos || separator == 0) return ERROR_PATCH_PACKAGE_INVALID;

    record.Set(u"VersionString", keywords->substr(0, separator));
    const std::u16string* patchCode = SummaryText(summary, 9);
    const std::u16string applied = patchCode && !patchCode->empty() ? *patchCode : patchPath;
    const std::u16string* patches = record.Find(u"Patches");
    record.Set(u"Patches", patches && !patches->empty() ? *patches + u';' + applied : applied);
    return ERROR_SUCCESS;
}

// One configuration at a time on a machine, as the installer service runs one
// installation at a time. Without it, two passes that both load the products
// file before either saves would both succeed and the later save would drop
// the patch the earlier one recorded. The lock is on the products file's
// directory, which, unlike the file, is not replaced by a save.
class ConfigurationLock {
  public:
    explicit ConfigurationLock(const char* productsPath) {
        if (productsPath == nullptr) return;
        const std::string path = productsPath;
        const std::size_t slash = path.rfind('/');
        const std::string directory =
            slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
        fd_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) return;
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            break;  // no locking here: run unserialised rather than not at all
        }
    }
    ~ConfigurationLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    ConfigurationLock(const ConfigurationLock&) = delete;
    ConfigurationLock& operator=(const ConfigurationLock&) = delete;

  private:
    int fd_ = -1;
};

std::uint32_t Configure(const char16_t* productCode, int installState,
                        const char16_t* commandLine) {
    if (productCode == nullptr || !IsProductCode(productCode)) return ERROR_INVALID_PARAMETER;
    if (installState != INSTALLSTATE_DEFAULT) return ERROR_INVALID_PARAMETER;
    const ConfigurationLock lock(ProductsPath());
    ProductsFile products;
    if (!LoadProducts(products)) return ERROR_BAD_CONFIGURATION;
    ProductRecord* record = FindProduct(products, productCode);
    if (record == nullptr) return ERROR_UNKNOWN_PRODUCT;
    const int state = StateOf(*record);
    if (state != INSTALLSTATE_DEFAULT && state != INSTALLSTATE_ADVERTISED)
        return ERROR_UNKNOWN_PRODUCT;

    std::vector<std::pair<std::u16string, std::u16string>> properties;
    if (!standin::ParseInstallerCommandLine(commandLine ? commandLine : u"", properties))
        return ERROR_INVALID_COMMAND_LINE;
    // A scripted result stands for whatever the real service would have hit.
    if (const std::u16string* scripted = record->Find(u"ConfigureResult"))
        return static_cast<std::uint32_t>(host::_wtoi64(scripted->c_str()));

    for (const auto& [name, value] : properties) {
        if (name != u"PATCH") continue;
        const std::uint32_t result = ApplyPatchFile(value, *record);
        if (result != ERROR_SUCCESS) return result;
    }
    std::string error;
    if (!standin::SaveProductsFileAtomically(ProductsPath(), products, error)) {
        std::fprintf(stderr, "stand-in installer: %s\n", error.c_str());
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::uint32_t MsiGetSummaryInformationW(MSIHANDLE database, const char16_t* packagePath,
                                        std::uint32_t, MSIHANDLE* summary) {
    if (summary == nullptr || database != 0 || packagePath == nullptr)
        return ERROR_INVALID_PARAMETER;
    *summary = 0;
    SummaryInformation information;
    const std::uint32_t result =
        standin::ReadSummaryInformationFile(standin::Utf16ToUtf8(packagePath), information);
    if (result != ERROR_SUCCESS) return result;
    const MSIHANDLE handle = nextHandle++;
    SummaryHandles().emplace(handle, std::move(information));
    *summary = handle;
    return ERROR_SUCCESS;
}

std::uint32_t MsiSummaryInfoGetPropertyW(MSIHANDLE summary, std::uint32_t property,
                                         std::uint32_t* dataType, int* integerValue,
                                         FileTime* timeValue, char16_t* buffer,
                                         std::uint32_t* capacity) {
    const auto handle = SummaryHandles().find(summary);
    if (handle == SummaryHandles().end()) return ERROR_INVALID_HANDLE;
    const auto found = handle->second.properties.find(property);
    if (found == handle->second.properties.end()) {
        // An absent property is empty, not an error.
        if (dataType) *dataType = 0;
        return CopyOut(u"", buffer, capacity);
    }
    const standin::SummaryValue& value = found->second;
    if (dataType) *dataType = value.type;
    if (integerValue) *integerValue = value.integer;
    if (timeValue) {
        *timeValue = {static_cast<std::uint32_t>(value.fileTime),
                      static_cast<std::uint32_t>(value.fileTime >> 32)};
    }
    if (value.type == VT_LPSTR || value.type == VT_LPWSTR)
        return CopyOut(value.text, buffer, capacity);
    return ERROR_SUCCESS;
}

std::uint32_t MsiCloseHandle(MSIHANDLE handle) {
    if (handle == 0) return ERROR_SUCCESS;
    return SummaryHandles().erase(handle) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

int MsiQueryProductStateW(const char16_t* productCode) {
    if (productCode == nullptr || !IsProductCode(productCode)) return INSTALLSTATE_INVALIDARG;
    ProductsFile products;
    if (!LoadProducts(products)) return INSTALLSTATE_UNKNOWN;
    const ProductRecord* record = FindProduct(products, productCode);
    return record ? StateOf(*record) : INSTALLSTATE_UNKNOWN;
}

std::uint32_t MsiGetProductInfoW(const char16_t* productCode, const char16_t* property,
                                 char16_t* buffer, std::uint32_t* capacity) {
    if (productCode == nullptr || property == nullptr || !IsProductCode(productCode))
        return ERROR_INVALID_PARAMETER;
    ProductsFile products;
    if (!LoadProducts(products)) return ERROR_BAD_CONFIGURATION;
    const ProductRecord* record = FindProduct(products, productCode);
    if (record == nullptr) return ERROR_UNKNOWN_PRODUCT;
    const int state = StateOf(*record);
    if (state != INSTALLSTATE_DEFAULT && state != INSTALLSTATE_ADVERTISED)
        return ERROR_UNKNOWN_PRODUCT;
    const std::u16string* value = record->Find(property);
    if (value == nullptr) return ERROR_UNKNOWN_PROPERTY;
    return CopyOut(*value, buffer, capacity);
}

std::uint32_t MsiSetInternalUI(std::uint32_t level, void** window) {
    (void)window;
    const std::uint32_t previous = uiLevel;
    uiLevel = level;
    standin::AppendToLog("SP_STANDIN_INSTALLER_LOG", "MsiSetInternalUI\t" + Hex32(level) + "\n");
    return previous;
}

std::uint32_t MsiConfigureProductExW(const char16_t* productCode, int installLevel,
                                     int installState, const char16_t* commandLine) {
    const bool basicUi = (uiLevel & 0x7) == INSTALLUILEVEL_BASIC;
    const std::u16string code = productCode ? productCode : u"";
    if (basicUi)
        std::fprintf(stderr, "[installer] Configuring %s...\n", standin::Utf16ToUtf8(code).c_str());
    const std::uint32_t result = Configure(productCode, installState, commandLine);
    if (basicUi)
        std::fprintf(stderr, "[installer] Configuration ended with %u.\n",
                     static_cast<unsigned>(result));
    standin::AppendToLog("SP_STANDIN_INSTALLER_LOG",
                         "MsiConfigureProductExW\t" + standin::EscapeLogField(code) + "\t" +
                             std::to_string(installLevel) + "\t" + std::to_string(installState) +
                             "\t" + standin::EscapeLogField(commandLine ? commandLine : u"") +
                             "\t" + std::to_string(result) + "\n");
    return result;
}

}  // namespace sp::installer
