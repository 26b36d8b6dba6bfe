// The host operations: thin calls into the Windows API.
//
// Our header comes before the system ones: theirs define the same constant
// names as macros, which would otherwise rewrite our declarations. Below,
// constants are therefore the system's own.
#include "platform/host.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstring>

namespace sp::host {
namespace {

const wchar_t* W(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* W(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}
HMODULE Module(ModuleHandle module) {
    return static_cast<HMODULE>(const_cast<void*>(module));
}

// One block of a string table holds 16 counted strings.
int CopyFromStringBlock(HMODULE module, UINT id, WORD language, char16_t* buffer, int capacity) {
    HRSRC block =
        ::FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW((id >> 4) + 1), language);
    if (block == nullptr) return -1;
    HGLOBAL loaded = ::LoadResource(module, block);
    const auto* p = static_cast<const WCHAR*>(loaded ? ::LockResource(loaded) : nullptr);
    const DWORD size = ::SizeofResource(module, block) / sizeof(WCHAR);
    if (p == nullptr) return -1;
    const WCHAR* end = p + size;
    for (UINT index = id & 15; index > 0 && p < end; --index) p += 1 + *p;
    if (p >= end || *p == 0 || p + 1 + *p > end) return -1;
    const int length = *p < capacity ? *p : capacity - 1;
    std::memcpy(buffer, p + 1, length * sizeof(WCHAR));
    buffer[length] = u'\0';
    return length;
}

}  // namespace

WideString GetCommandLineW() {
    return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

char16_t** CommandLineToArgvW(const char16_t* commandLine, int* count) {
    return reinterpret_cast<char16_t**>(::CommandLineToArgvW(W(commandLine), count));
}

void GlobalFree(char16_t** argv) {
    ::LocalFree(argv);
}

ResourceInfo FindResourceW(ModuleHandle module, const char16_t* name, const char16_t* type) {
    return ::FindResourceW(Module(module), W(name), W(type));
}

std::uint32_t SizeofResource(ModuleHandle module, ResourceInfo resource) {
    return ::SizeofResource(Module(module), static_cast<HRSRC>(const_cast<void*>(resource)));
}

const void* LoadResource(ModuleHandle module, ResourceInfo resource) {
    return ::LoadResource(Module(module), static_cast<HRSRC>(const_cast<void*>(resource)));
}

const void* LockResource(const void* loaded) {
    return ::LockResource(const_cast<HGLOBAL>(loaded));
}

int LoadStringW(ModuleHandle module, std::uint32_t id, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    buffer[0] = u'\0';
    // LoadStringW itself follows the UI language on newer Windows versions;
    // the messages must follow the thread locale, so look that table up first.
    const int length = CopyFromStringBlock(Module(module), id, LANGIDFROMLCID(::GetThreadLocale()),
                                           buffer, capacity);
    if (length >= 0) return length;
    return ::LoadStringW(Module(module), id, W(buffer), capacity);
}

int MessageBoxW(const void* owner, const char16_t* text, const char16_t* caption,
                std::uint32_t type) {
    return ::MessageBoxW(static_cast<HWND>(const_cast<void*>(owner)), W(text), W(caption), type);
}

std::uint32_t GetTempPathW(std::uint32_t capacity, char16_t* buffer) {
    return ::GetTempPathW(capacity, W(buffer));
}

bool GetEnvironmentVariableW(const char16_t* name, WideString& value) {
    const DWORD needed = ::GetEnvironmentVariableW(W(name), nullptr, 0);
    if (needed == 0) return false;
    value.assign(needed, u'\0');
    const DWORD length = ::GetEnvironmentVariableW(W(name), W(value.data()), needed);
    if (length >= needed) return false;
    value.resize(length);
    return true;
}

bool DirectoryExists(const char16_t* path) {
    const DWORD attributes = ::GetFileAttributesW(W(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FileHandle CreateFileW(const char16_t* path, Disposition disposition) {
    DWORD creation = OPEN_ALWAYS;
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    switch (disposition) {
        case Disposition::CreateNew:
            creation = CREATE_NEW;  // fails on any existing entry, a link included
            access = GENERIC_WRITE;
            flags |= FILE_FLAG_OPEN_REPARSE_POINT;
            break;
        case Disposition::CreateAlways:
            creation = CREATE_ALWAYS;
            access = GENERIC_WRITE;
            break;
        case Disposition::OpenAlways:
            break;
    }
    HANDLE file =
        ::CreateFileW(W(path), access, FILE_SHARE_READ, nullptr, creation, flags, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(file);
}

bool SetFilePointerToEnd(FileHandle file) {
    LARGE_INTEGER zero{};
    return ::SetFilePointerEx(reinterpret_cast<HANDLE>(file), zero, nullptr, FILE_END) != FALSE;
}

bool WriteFile(FileHandle file, const void* data, std::size_t size, std::size_t* written) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const DWORD chunk = size - done > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size - done);
        DWORD wrote = 0;
        if (!::WriteFile(reinterpret_cast<HANDLE>(file), bytes + done, chunk, &wrote, nullptr) ||
            wrote == 0) {
            if (written) *written = done + wrote;
            return false;
        }
        done += wrote;
    }
    if (written) *written = done;
    return true;
}

bool CloseHandle(FileHandle file) {
    // Windows reserves the space at WriteFile, so a full disk fails there;
    // close only reports a handle that was already bad.
    return ::CloseHandle(reinterpret_cast<HANDLE>(file)) != FALSE;
}

bool DeleteFileW(const char16_t* path) {
    return ::DeleteFileW(W(path)) != FALSE;
}

std::uint32_t GetFullPathNameW(const char16_t* path, std::uint32_t capacity, char16_t* buffer) {
    return ::GetFullPathNameW(W(path), capacity, W(buffer), nullptr);
}

bool SetThreadLocale(std::uint32_t locale) {
    return ::SetThreadLocale(locale) != FALSE;
}

std::uint32_t GetThreadLocale() {
    return ::GetThreadLocale();
}

std::uint32_t GetLastError() {
    return ::GetLastError();
}

void SetLastError(std::uint32_t error) {
    ::SetLastError(error);
}

int MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* text, int length,
                        char16_t* buffer, int capacity) {
    return ::MultiByteToWideChar(codePage, flags, text, length, W(buffer), capacity);
}

}  // namespace sp::host
