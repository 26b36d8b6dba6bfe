// Everything the core needs from the machine outside the installer service.
// Each operation keeps the name of the Windows operation it stands for; the
// Windows binding calls that operation, the stand-in binding models it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sp {

using WideString = std::u16string;
// The executable's own module; every resource lookup is made in it.
using ModuleHandle = const void*;
// A located resource, as FindResourceW hands it back; null when absent.
using ResourceInfo = const void*;
// An open file; kInvalidFile when none.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

namespace host {

// Last-error values the core sets or tests for.
inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::uint32_t ERROR_WRITE_FAULT = 29;
inline constexpr std::uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_DISK_FULL = 112;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr std::uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr std::uint32_t ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t ERROR_NO_UNICODE_TRANSLATION = 1113;
inline constexpr std::uint32_t ERROR_RESOURCE_NOT_PRESENT = 4316;

// Message box flags and results.
inline constexpr std::uint32_t MB_OK = 0x0;
inline constexpr std::uint32_t MB_ICONERROR = 0x10;
inline constexpr std::uint32_t MB_ICONWARNING = 0x30;
inline constexpr std::uint32_t MB_ICONINFORMATION = 0x40;
inline constexpr std::uint32_t MB_SETFOREGROUND = 0x10000;
inline constexpr std::uint32_t MB_TOPMOST = 0x40000;
inline constexpr int IDOK = 1;

inline constexpr std::uint32_t LOCALE_USER_DEFAULT = 0x0400;
inline constexpr std::uint32_t CP_ACP = 0;
inline constexpr std::uint32_t MB_PRECOMPOSED = 0x1;
inline constexpr std::uint32_t MAX_PATH = 260;

// How CreateFileW treats an existing or missing file.
enum class Disposition {
    CreateNew,     // create; fail with ERROR_FILE_EXISTS when any entry of that name exists,
                   // a link included (the link is not followed)
    CreateAlways,  // create or truncate
    OpenAlways,    // open or create; never truncate
};

// The process's whole command line, as the user typed it.
WideString GetCommandLineW();
// Splits a command line by the standard Windows rules (argument 0 by the
// program-name rule). Returns an array of `count` strings to be released with
// GlobalFree, or null with the last-error value set.
char16_t** CommandLineToArgvW(const char16_t* commandLine, int* count);
void GlobalFree(char16_t** argv);

// A resource of the module by type and name; a name "#206" stands for id 206.
// Looked up without a language preference. Null when absent.
ResourceInfo FindResourceW(ModuleHandle module, const char16_t* name, const char16_t* type);
std::uint32_t SizeofResource(ModuleHandle module, ResourceInfo resource);
// The resource's bytes, valid while the module is loaded; null on failure.
const void* LoadResource(ModuleHandle module, ResourceInfo resource);
const void* LockResource(const void* loaded);

// String `id` in the language of the thread locale, else the fallback
// language; copied into `buffer` cut to capacity - 1 characters and
// terminated. Returns the number of characters copied, 0 when missing.
int LoadStringW(ModuleHandle module, std::uint32_t id, char16_t* buffer, int capacity);

// A modal box with no owner; returns when it is closed (IDOK).
int MessageBoxW(const void* owner, const char16_t* text, const char16_t* caption,
                std::uint32_t type);

// Formatted printing of %d (int), %s (const char16_t*) and %%; never writes
// more than `capacity` characters including the terminator, and never more
// than 1024 characters of output. Returns the characters written, without
// the terminator.
int wnsprintfW(char16_t* buffer, int capacity, const char16_t* format, ...);

// The temporary directory with a trailing separator. Returns its length; a
// length >= capacity means the buffer was too small (nothing copied); 0 on
// failure.
std::uint32_t GetTempPathW(std::uint32_t capacity, char16_t* buffer);
// An environment variable's value; false when it is not set.
bool GetEnvironmentVariableW(const char16_t* name, WideString& value);
// True when `path` names an existing directory.
bool DirectoryExists(const char16_t* path);

// Opens a file for writing (and reading, with reads shared). kInvalidFile and
// the last-error value on failure.
FileHandle CreateFileW(const char16_t* path, Disposition disposition);
// Moves the write position to the end of the file.
bool SetFilePointerToEnd(FileHandle file);
// Writes all `size` bytes in order; `written` receives how many were written.
bool WriteFile(FileHandle file, const void* data, std::size_t size, std::size_t* written);
// Closes the file; false when pending data could not be stored.
bool CloseHandle(FileHandle file);
bool DeleteFileW(const char16_t* path);

// The full path of `path` against the current directory into a buffer of
// `capacity` characters. Returns its length; a length >= capacity means it
// did not fit (nothing usable copied); 0 on failure.
std::uint32_t GetFullPathNameW(const char16_t* path, std::uint32_t capacity, char16_t* buffer);

// Later string loads on this thread use `locale`'s language. 0x0400 is the
// user default.
bool SetThreadLocale(std::uint32_t locale);
std::uint32_t GetThreadLocale();

std::uint32_t GetLastError();
void SetLastError(std::uint32_t error);

// ANSI (Windows-1252 on the stand-in) to UTF-16. With capacity 0 returns the
// characters needed; otherwise the characters written; 0 on failure with the
// last-error value set.
int MultiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* text, int length,
                        char16_t* buffer, int capacity);

// Equality-style compare of two texts with ASCII letters folded: 0 when equal.
int _wcsicmp(const char16_t* a, const char16_t* b);
// Leading white space, an optional sign, then decimal digits up to the first
// non-digit; no digits gives 0. The value wraps like a 64-bit integer would
// instead of being undefined on overflow.
long long _wtoi64(const char16_t* text);

}  // namespace host
}  // namespace sp
