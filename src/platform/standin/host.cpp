// The host operations on a POSIX machine, modelled on what the Windows
// operations do for the callers in this program.
#include "platform/host.h"

#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/standin/command_line.h"
#include "platform/standin/locale.h"
#include "platform/standin/log.h"
#include "platform/standin/message_box.h"
#include "platform/standin/process.h"
#include "platform/standin/resource_table.h"
#include "platform/standin/utf.h"

namespace sp::standin {
namespace {

std::u16string& ProcessCommandLine() {
    static std::u16string line;
    return line;
}

thread_local std::uint32_t lastError = 0;
thread_local std::uint32_t threadLocale = 0;  // 0 until first asked: the user default

std::uint32_t CurrentThreadLocale() {
    if (threadLocale == 0) threadLocale = UserDefaultLocale();
    return threadLocale;
}

std::uint32_t ErrorFromErrno(int error) {
    switch (error) {
        case EEXIST:
            return host::ERROR_FILE_EXISTS;
        case ENOENT:
            return host::ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
            return host::ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return host::ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
            return host::ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return host::ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return host::ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return host::ERROR_INVALID_PARAMETER;
        default:
            return host::ERROR_WRITE_FAULT;
    }
}

bool FailWithErrno() {
    lastError = ErrorFromErrno(errno);
    return false;
}

std::string NativePath(const char16_t* path) {
    return Utf16ToUtf8(path);
}

const ResourceTable* Table(ModuleHandle module) {
    return static_cast<const ResourceTable*>(module);
}

// Resource names and types compare as Windows compares them: without case.
bool SameName(const char16_t* a, const char16_t* b) {
    return host::_wcsicmp(a, b) == 0;
}

bool NameMatches(const BinaryResource& resource, const char16_t* name) {
    if (name[0] == u'#') {
        if (resource.name != nullptr) return false;
        std::uint64_t id = 0;
        const char16_t* p = name + 1;
        if (*p == u'\0') return false;
        for (; *p != u'\0'; ++p) {
            if (*p < u'0' || *p > u'9') return false;
            id = id * 10 + (*p - u'0');
            if (id > 0xFFFF) return false;
        }
        return resource.id == id;
    }
    return resource.name != nullptr && SameName(resource.name, name);
}

const StringResource* FindString(const ResourceTable& table, std::uint16_t language,
                                 std::uint32_t id) {
    for (std::size_t i = 0; i < table.stringCount; ++i) {
        const StringResource& entry = table.strings[i];
        if (entry.language == language && entry.id == id) return &entry;
    }
    return nullptr;
}

constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Where `size` bytes at `data` lie in the program's own file, when they lie
// whole in one of its loaded segments (the embedded package does).
bool ProgramFileOffset(const void* data, std::size_t size, off_t& offset) {
    struct Search {
        std::uintptr_t address;
        std::size_t size;
        off_t offset;
        bool found;
    } search{reinterpret_cast<std::uintptr_t>(data), size, 0, false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* argument) -> int {
            auto* s = static_cast<Search*>(argument);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                // Only read-only segments: a writable one may no longer hold
                // what the file holds.
                if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) != 0) continue;
                const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
                if (s->address >= start && s->size <= segment.p_filesz &&
                    s->address - start <= segment.p_filesz - s->size) {
                    s->offset = static_cast<off_t>(segment.p_offset + (s->address - start));
                    s->found = true;
                }
            }
            return 1;  // the first object is the program itself
        },
        &search);
    offset = search.offset;
    return search.found;
}

// Copies from the program's file inside the kernel. Writing from the mapped
// image would first fault every page of it into the process, which for a
// package of hundreds of megabytes costs more than the copy itself. False
// with nothing written when the kernel cannot copy between these files.
bool CopyFromProgramFile(int target, const void* data, std::size_t size, std::size_t& done) {
    constexpr std::size_t kWorthIt = 1 << 20;
    off_t offset = 0;
    if (size < kWorthIt || !ProgramFileOffset(data, size, offset)) return false;
    const int program = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (program < 0) return false;
    while (done < size) {
        const ssize_t n = ::copy_file_range(program, &offset, target, nullptr, size - done, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (done == 0 && n < 0 &&
            (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EBADF ||
             errno == EOPNOTSUPP)) {
            ::close(program);
            return false;  // not a pair of files the kernel copies between
        }
        if (n == 0) errno = EIO;  // the program file ended early
        break;
    }
    const int error = errno;
    ::close(program);
    errno = error;
    return true;
}

char16_t FromWindows1252(unsigned char byte) {
    return (byte >= 0x80 && byte < 0xA0) ? kWindows1252High[byte - 0x80] : byte;
}

}  // namespace

void SetProcessCommandLine(std::u16string commandLine) {
    ProcessCommandLine() = std::move(commandLine);
}

}  // namespace sp::standin

namespace sp::host {

using namespace sp::standin;

WideString GetCommandLineW() {
    return ProcessCommandLine();
}

char16_t** CommandLineToArgvW(const char16_t* commandLine, int* count) {
    std::vector<std::u16string> arguments;
    try {
        arguments = SplitCommandLine(commandLine);
    } catch (const std::bad_alloc&) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    // One block, like the Windows array: the pointers, then the texts.
    std::size_t characters = 0;
    for (const auto& argument : arguments) characters += argument.size() + 1;
    const std::size_t pointerBytes = (arguments.size() + 1) * sizeof(char16_t*);
    char* block = new (std::nothrow) char[pointerBytes + characters * sizeof(char16_t)];
    if (block == nullptr) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    auto** argv = reinterpret_cast<char16_t**>(block);
    auto* text = reinterpret_cast<char16_t*>(block + pointerBytes);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        argv[i] = text;
        std::memcpy(text, arguments[i].c_str(), (arguments[i].size() + 1) * sizeof(char16_t));
        text += arguments[i].size() + 1;
    }
    argv[arguments.size()] = nullptr;
    *count = static_cast<int>(arguments.size());
    return argv;
}

void GlobalFree(char16_t** argv) {
    delete[] reinterpret_cast<char*>(argv);
}

ResourceInfo FindResourceW(ModuleHandle module, const char16_t* name, const char16_t* type) {
    const ResourceTable* table = Table(module);
    if (table == nullptr || name == nullptr || type == nullptr) return nullptr;
    for (std::size_t i = 0; i < table->binaryCount; ++i) {
        const BinaryResource& resource = table->binaries[i];
        if (SameName(resource.type, type) && NameMatches(resource, name)) return &resource;
    }
    return nullptr;
}

std::uint32_t SizeofResource(ModuleHandle, ResourceInfo resource) {
    if (resource == nullptr) return 0;
    const auto* binary = static_cast<const BinaryResource*>(resource);
    return static_cast<std::uint32_t>(binary->end - binary->data);
}

const void* LoadResource(ModuleHandle, ResourceInfo resource) {
    return resource ? static_cast<const BinaryResource*>(resource)->data : nullptr;
}

const void* LockResource(const void* loaded) {
    return loaded;
}

int LoadStringW(ModuleHandle module, std::uint32_t id, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    buffer[0] = u'\0';
    const ResourceTable* table = Table(module);
    if (table == nullptr) return 0;
    const auto language = static_cast<std::uint16_t>(CurrentThreadLocale() & 0xFFFF);
    const StringResource* entry = FindString(*table, language, id);
    if (entry == nullptr) entry = FindString(*table, 1033, id);
    if (entry == nullptr) return 0;
    const std::size_t length =
        entry->length < static_cast<std::size_t>(capacity) ? entry->length : capacity - 1;
    std::memcpy(buffer, entry->text, length * sizeof(char16_t));
    buffer[length] = u'\0';
    return static_cast<int>(length);
}

int MessageBoxW(const void*, const char16_t* text, const char16_t* caption, std::uint32_t type) {
    const std::u16string_view body = text ? text : u"";
    const std::u16string_view title = caption ? caption : u"Error";
    const std::string drawn = DrawMessageBox(type, title, body);
    std::fwrite(drawn.data(), 1, drawn.size(), stderr);
    AppendToLog("SP_STANDIN_MESSAGE_LOG", FormatMessageLogLine(type, title, body));
    return IDOK;
}

std::uint32_t GetTempPathW(std::uint32_t capacity, char16_t* buffer) {
    std::u16string directory;
    if (!GetEnvironmentVariableW(u"TMP", directory) || directory.empty()) {
        if (!GetEnvironmentVariableW(u"TEMP", directory) || directory.empty()) directory = u"/tmp";
    }
    if (directory.back() != u'/') directory += u'/';
    if (directory.size() >= capacity) return static_cast<std::uint32_t>(directory.size() + 1);
    std::memcpy(buffer, directory.c_str(), (directory.size() + 1) * sizeof(char16_t));
    return static_cast<std::uint32_t>(directory.size());
}

bool GetEnvironmentVariableW(const char16_t* name, WideString& value) {
    const char* raw = std::getenv(Utf16ToUtf8(name).c_str());
    if (raw == nullptr) return false;
    value = Utf8ToUtf16(raw);
    return true;
}

bool DirectoryExists(const char16_t* path) {
    struct stat status {};
    return ::stat(NativePath(path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

FileHandle CreateFileW(const char16_t* path, Disposition disposition) {
    int flags = O_CLOEXEC;
    switch (disposition) {
        case Disposition::CreateNew:
            flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
            break;
        case Disposition::CreateAlways:
            flags |= O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case Disposition::OpenAlways:
            flags |= O_RDWR | O_CREAT;
            break;
    }
    const std::string native = NativePath(path);
    if (native.empty()) {
        lastError = ERROR_PATH_NOT_FOUND;
        return kInvalidFile;
    }
    const int fd = ::open(native.c_str(), flags, 0644);
    if (fd < 0) {
        FailWithErrno();
        return kInvalidFile;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        lastError = ERROR_ACCESS_DENIED;
        return kInvalidFile;
    }
    return fd;
}

bool SetFilePointerToEnd(FileHandle file) {
    return ::lseek(static_cast<int>(file), 0, SEEK_END) >= 0 || FailWithErrno();
}

bool WriteFile(FileHandle file, const void* data, std::size_t size, std::size_t* written) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    if (CopyFromProgramFile(static_cast<int>(file), data, size, done) && done < size) {
        if (written) *written = done;
        return FailWithErrno();
    }
    while (done < size) {
        const ssize_t n = ::write(static_cast<int>(file), bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (written) *written = done;
            return FailWithErrno();
        }
        if (n == 0) {
            lastError = ERROR_WRITE_FAULT;
            if (written) *written = done;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (written) *written = done;
    return true;
}

bool CloseHandle(FileHandle file) {
    return ::close(static_cast<int>(file)) == 0 || FailWithErrno();
}

bool DeleteFileW(const char16_t* path) {
    return ::unlink(NativePath(path).c_str()) == 0 || FailWithErrno();
}

std::uint32_t GetFullPathNameW(const char16_t* path, std::uint32_t capacity, char16_t* buffer) {
    std::u16string input = path ? path : u"";
    if (input.empty()) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (input[0] != u'/') {
        std::vector<char> cwd(4096);
        while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE) return FailWithErrno(), 0;
            cwd.resize(cwd.size() * 2);
        }
        input = Utf8ToUtf16(cwd.data()) + u'/' + input;
    }
    // Fold "." and ".." and repeated separators as Windows does, by text alone.
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find(u'/', start);
        if (end == std::u16string::npos) end = input.size();
        std::u16string part = input.substr(start, end - start);
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    std::u16string full;
    for (const auto& part : parts) full += u'/' + part;
    if (full.empty() || input.back() == u'/') full += u'/';
    if (full.size() >= capacity) return static_cast<std::uint32_t>(full.size() + 1);
    std::memcpy(buffer, full.c_str(), (full.size() + 1) * sizeof(char16_t));
    return static_cast<std::uint32_t>(full.size());
}

bool SetThreadLocale(std::uint32_t locale) {
    if (locale == LOCALE_USER_DEFAULT) locale = UserDefaultLocale();
    if ((locale & 0x3FF) == 0 || locale > 0xFFFFF) {
        lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    threadLocale = locale;
    return true;
}

std::uint32_t GetThreadLocale() {
    return CurrentThreadLocale();
}

std::uint32_t GetLastError() {
    return lastError;
}

void SetLastError(std::uint32_t error) {
    lastError = error;
}

int MultiByteToWideChar(std::uint32_t codePage, std::uint32_t, const char* text, int length,
                        char16_t* buffer, int capacity) {
    if (text == nullptr || length == 0 || capacity < 0 ||
        (codePage != CP_ACP && codePage != 1252)) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    const std::size_t count = length < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
    if (capacity == 0) return static_cast<int>(count);
    if (count > static_cast<std::size_t>(capacity)) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    for (std::size_t i = 0; i < count; ++i)
        buffer[i] = FromWindows1252(static_cast<unsigned char>(text[i]));
    return static_cast<int>(count);
}

}  // namespace sp::host
