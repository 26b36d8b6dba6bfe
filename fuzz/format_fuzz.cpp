// Fuzzed format text, capacity and %s text through wnsprintfW. Each %d and
// %s gets an argument of its own type, so every call is well defined; the
// output must be the expansion cut to capacity - 1 and to 1024 characters,
// always terminated, and never a character past the buffer (which is
// allocated at exactly `capacity`, so the address sanitizer sees a write
// past it).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_text.h"
#include "platform/host.h"

namespace {

constexpr std::size_t kMaxConversions = 6;
constexpr int kMaxOutput = 1024;

struct Arguments {
    int numbers[kMaxConversions];
    const char16_t* texts[kMaxConversions];
};

// Calls wnsprintfW with one argument per conversion in `kinds`, of the type
// that conversion reads: the n-th conversion gets numbers[n] or texts[n].
template <typename... Passed>
int Format(char16_t* buffer, int capacity, const std::u16string& format,
           const std::u16string& kinds, const Arguments& arguments, Passed... passed) {
    constexpr std::size_t n = sizeof...(Passed);
    if constexpr (n < kMaxConversions) {
        if (n < kinds.size()) {
            if (kinds[n] == u'd')
                return Format(buffer, capacity, format, kinds, arguments, passed...,
                              arguments.numbers[n]);
            return Format(buffer, capacity, format, kinds, arguments, passed...,
                          arguments.texts[n]);
        }
    }
    return sp::host::wnsprintfW(buffer, capacity, format.c_str(), passed...);
}

// Walks the format as the formatter does, noting each conversion that reads
// an argument; past the last argument, a conversion becomes "%%".
std::u16string Conversions(std::u16string& format) {
    std::u16string kinds;
    for (std::size_t i = 0; i < format.size() && format[i] != u'\0'; ++i) {
        if (format[i] != u'%' || i + 1 == format.size()) continue;
        const char16_t next = format[i + 1];
        if (next == u'd' || next == u's') {
            if (kinds.size() < kMaxConversions)
                kinds += next;
            else
                format[i + 1] = u'%';
            ++i;
        } else if (next == u'%') {
            ++i;
        }
    }
    return kinds;
}

std::u16string Decimal(int value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

// What the format expands to with no limit at all.
std::u16string Expand(const std::u16string& format, const Arguments& arguments) {
    std::u16string out;
    std::size_t n = 0;
    for (const char16_t* p = format.c_str(); *p != u'\0'; ++p) {
        if (*p != u'%') {
            out += *p;
        } else if (p[1] == u'd') {
            out += Decimal(arguments.numbers[n++]);
            ++p;
        } else if (p[1] == u's') {
            if (const char16_t* text = arguments.texts[n++]) out += text;
            ++p;
        } else if (p[1] == u'%') {
            out += u'%';
            ++p;
        } else {
            out += u'%';
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const int capacity = provider.ConsumeIntegralInRange<int>(1, 1100);
    const int number = provider.ConsumeIntegral<int>();
    const bool nullText = provider.ConsumeBool();
    const std::string textBytes = provider.ConsumeRandomLengthString(2048);
    const std::u16string text = sp::fuzz::BytesToUtf16(
        reinterpret_cast<const std::uint8_t*>(textBytes.data()), textBytes.size());
    const std::vector<std::uint8_t> formatBytes = provider.ConsumeRemainingBytes<std::uint8_t>();
    std::u16string format = sp::fuzz::BytesToUtf16(formatBytes.data(), formatBytes.size());
    const std::u16string kinds = Conversions(format);

    // Fuzzed values and the ones at the edges of what a conversion prints.
    const std::u16string longText(1100, u'x');
    const Arguments arguments{{number, INT_MIN, INT_MAX, 0, -1, number},
                              {text.c_str(), nullText ? nullptr : text.c_str(), longText.c_str(),
                               u"", text.c_str(), longText.c_str()}};

    // Filled with a character that is never a terminator, so a missing one shows.
    const std::unique_ptr<char16_t[]> buffer(new char16_t[static_cast<std::size_t>(capacity)]);
    std::fill_n(buffer.get(), capacity, u'\xA5A5');
    const int written = Format(buffer.get(), capacity, format, kinds, arguments);

    const std::u16string expanded = Expand(format, arguments);
    const std::size_t limit = std::min({static_cast<std::size_t>(capacity - 1),
                                        static_cast<std::size_t>(kMaxOutput), expanded.size()});
    if (written < 0 || static_cast<std::size_t>(written) != limit) std::abort();
    if (buffer[written] != u'\0') std::abort();
    if (expanded.compare(0, limit, buffer.get(), limit) != 0) std::abort();
    return 0;
}
