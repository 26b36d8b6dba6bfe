#include "payload/extract.h"

#include "launcher/run_options.h"
#include "payload/temp_file.h"
#include "resource_ids.h"

namespace sp {
namespace {

constexpr std::uint32_t kTempPathCapacity = 1024;

bool WriteWholeFile(FileHandle file, const void* data, std::size_t size) {
    std::size_t written = 0;
    const bool wrote = host::WriteFile(file, data, size, &written) && written == size;
    // Closed on every path; a close that cannot store the data is a failed write.
    const bool closed = host::CloseHandle(file);
    return wrote && closed;
}

}  // namespace

bool ExtractPatchPackage(WideString& path) {
    FileHandle file = kInvalidFile;
    if (path.empty()) {
        char16_t directory[kTempPathCapacity];
        const std::uint32_t length = host::GetTempPathW(kTempPathCapacity, directory);
        if (length == 0 || length >= kTempPathCapacity) return false;
        WideString name;
        if (!CreateTemporaryFile(WideString(directory, length), u"MSP", name, file)) return false;
        path = name;
    }

    const ModuleHandle module = runOptions.moduleHandle;
    const ResourceInfo resource = host::FindResourceW(module, IDR_MSP_NAME, RT_MSP_NAME);
    const std::uint32_t size = resource ? host::SizeofResource(module, resource) : 0;
    const void* loaded = size ? host::LoadResource(module, resource) : nullptr;
    const void* bytes = loaded ? host::LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        if (file != kInvalidFile) host::CloseHandle(file);
        return false;
    }

    if (file == kInvalidFile) {
        file = host::CreateFileW(path.c_str(), host::Disposition::CreateAlways);
        if (file == kInvalidFile) return false;
    }
    return WriteWholeFile(file, bytes, size);
}

}  // namespace sp
