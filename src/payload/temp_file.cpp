#include "payload/temp_file.h"

#include <string>

namespace sp {
namespace {

constexpr int kMaxTries = 32767;

// Carried across calls, so a second temporary file in the same run gets the
// next number without retrying the names already handed out.
int nextNumber = 2;

WideString ToDecimal(int value) {
    WideString digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value > 0);
    return digits;
}

bool EndsWithSeparator(const WideString& directory) {
    return !directory.empty() && (directory.back() == u'\\' || directory.back() == u'/');
}

}  // namespace

bool CreateTemporaryFile(const WideString& directory, const char16_t* prefix, WideString& path,
                         FileHandle& file) {
    WideString base = directory;
    WideString tmp;
    if (host::GetEnvironmentVariableW(u"TMP", tmp) && !tmp.empty() &&
        host::DirectoryExists(tmp.c_str())) {
        base = tmp;
    }
    if (!EndsWithSeparator(base)) base += base.find(u'/') != WideString::npos ? u'/' : u'\\';
    base += prefix;

    for (int tries = 0; tries < kMaxTries; ++tries) {
        const int number = nextNumber;
        nextNumber = number >= 2 + kMaxTries ? 2 : number + 1;
        WideString candidate = base + ToDecimal(number);
        FileHandle created = host::CreateFileW(candidate.c_str(), host::Disposition::CreateNew);
        if (created != kInvalidFile) {
            path = std::move(candidate);
            file = created;
            return true;
        }
        // Only a name that is taken is worth another number; any other
        // failure (no directory, no rights) would fail for every number.
        if (host::GetLastError() != host::ERROR_FILE_EXISTS) return false;
    }
    return false;
}

}  // namespace sp
