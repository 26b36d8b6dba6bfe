#include "payload/patch_list.h"

#include <vector>

#include "launcher/run_options.h"
#include "messages/messages.h"
#include "metadata/summary.h"
#include "payload/extract.h"
#include "resource_ids.h"

namespace sp {
namespace {

constexpr char kSeparator[] = "*****\r\n";
constexpr char kLineEnd[] = "\r\n";
constexpr std::uint32_t kShowFlags = host::MB_OK;

// "patchlist" + the four characters after the first "-" of the first
// product code + ".txt", e.g. "patchlistFEDC.txt"; "patchlist.txt" when
// the package cannot tell.
WideString DefaultPatchListName() {
    WideString name = u"patchlist.txt";
    WideString packagePath;
    ExtractPatchPackage(packagePath);  // a failure leaves an unreadable path
    if (!ReadTargetProductCodes(packagePath, name)) return name;

    const std::size_t colon = name.find(u':');
    if (colon != WideString::npos) name.erase(0, colon + 1);
    const std::size_t dash = name.find(u'-');
    name = dash != WideString::npos ? name.substr(dash + 1, 4) : name.substr(0, 4);
    return u"patchlist" + name + u".txt";
}

bool Write(FileHandle file, const void* data, std::size_t size) {
    std::size_t written = 0;
    return host::WriteFile(file, data, size, &written) && written == size;
}

void AppendText(FileHandle file, const void* text, std::uint32_t size) {
    // Each piece only after the one before it reached the file, so a block
    // is never a text without its separator.
    if (Write(file, kSeparator, sizeof kSeparator - 1) && Write(file, text, size))
        Write(file, kLineEnd, sizeof kLineEnd - 1);
}

void ShowText(const char* text, std::uint32_t size) {
    std::vector<char16_t> converted(static_cast<std::size_t>(size) + 1, u'\0');
    const int length =
        host::MultiByteToWideChar(host::CP_ACP, host::MB_PRECOMPOSED, text, static_cast<int>(size),
                                  converted.data(), static_cast<int>(size) + 1);
    if (length == 0) {
        char16_t message[128];
        host::wnsprintfW(message, 128, u"PatchList info could not be read. Error=%d",
                         static_cast<int>(host::GetLastError()));
        host::MessageBoxW(nullptr, message, u"Error Reading PatchList info in EXE", kShowFlags);
        return;
    }
    host::MessageBoxW(nullptr, converted.data(), u"PatchList info in EXE", kShowFlags);
}

WideString TextResourceName(std::uint32_t id) {
    WideString digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + id % 10));
        id /= 10;
    } while (id > 0);
    return u"#" + digits;
}

}  // namespace

bool ExportPatchList(WideString& fileName) {
    const bool showMode = runOptions.showPatchListMode;
    FileHandle file = kInvalidFile;
    if (!showMode) {
        if (fileName.empty()) fileName = DefaultPatchListName();
        // Opened for appending: earlier exports in the file are never lost.
        file = host::CreateFileW(fileName.c_str(), host::Disposition::OpenAlways);
        if (file == kInvalidFile || !host::SetFilePointerToEnd(file)) {
            if (file != kInvalidFile) host::CloseHandle(file);
            ShowResultMessage(IDS_PATCH_LIST_REQUIRED);
            return false;
        }
    }

    const ModuleHandle module = runOptions.moduleHandle;
    for (std::uint32_t n = 0;; ++n) {
        const WideString name = TextResourceName(IDR_PATCH_INFO_FIRST + n);
        const ResourceInfo resource = host::FindResourceW(module, name.c_str(), RT_TXT_NAME);
        if (resource == nullptr) {
            if (n == 0) ShowResultMessage(IDS_PATCH_LIST_REQUIRED);
            break;
        }
        const std::uint32_t size = host::SizeofResource(module, resource);
        const void* loaded = size ? host::LoadResource(module, resource) : nullptr;
        const void* text = loaded ? host::LockResource(loaded) : nullptr;
        if (text == nullptr) {
            ShowResultMessage(IDS_PATCH_FAILED);
            break;
        }
        if (showMode) {
            ShowText(static_cast<const char*>(text), size);
        } else {
            AppendText(file, text, size);
        }
    }

    if (file != kInvalidFile) host::CloseHandle(file);
    return true;
}

}  // namespace sp
