// Text routines whose behaviour must be the same on every binding, so they
// are written once here instead of borrowed from a C runtime whose details
// (locale-dependent folding, overflow, buffer limits) vary.
#include <cstdarg>

#include "platform/host.h"

namespace sp::host {
namespace {

constexpr int kMaxFormattedOutput = 1024;

char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
}

bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

class Output {
  public:
    Output(char16_t* buffer, int capacity)
        : buffer_(buffer),
          limit_(capacity - 1 < kMaxFormattedOutput ? capacity - 1 : kMaxFormattedOutput) {}
    void Put(char16_t c) {
        if (length_ < limit_) buffer_[length_++] = c;
    }
    int Finish() {
        buffer_[length_] = u'\0';
        return length_;
    }

  private:
    char16_t* buffer_;
    int limit_;
    int length_ = 0;
};

void PutDecimal(Output& out, int value) {
    char16_t digits[12];
    int count = 0;
    // Work in unsigned so the most negative int needs no special case.
    unsigned magnitude =
        value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) out.Put(u'-');
    while (count > 0) out.Put(digits[--count]);
}

}  // namespace

int _wcsicmp(const char16_t* a, const char16_t* b) {
    for (;; ++a, ++b) {
        const char16_t x = FoldAscii(*a);
        const char16_t y = FoldAscii(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == u'\0') return 0;
    }
}

long long _wtoi64(const char16_t* text) {
    while (IsSpace(*text)) ++text;
    bool negative = false;
    if (*text == u'+' || *text == u'-') negative = *text++ == u'-';
    unsigned long long value = 0;
    for (; *text >= u'0' && *text <= u'9'; ++text) value = value * 10 + (*text - u'0');
    return static_cast<long long>(negative ? 0ull - value : value);
}

int wnsprintfW(char16_t* buffer, int capacity, const char16_t* format, ...) {
    if (buffer == nullptr || capacity <= 0) return 0;
    Output out(buffer, capacity);
    va_list arguments;
    va_start(arguments, format);
    for (const char16_t* p = format; *p != u'\0'; ++p) {
        if (*p != u'%') {
            out.Put(*p);
            continue;
        }
        switch (p[1]) {
            case u'd':
                PutDecimal(out, va_arg(arguments, int));
                ++p;
                break;
            case u's': {
                const char16_t* text = va_arg(arguments, const char16_t*);
                for (; text != nullptr && *text != u'\0'; ++text) out.Put(*text);
                ++p;
                break;
            }
            case u'%':
                out.Put(u'%');
                ++p;
                break;
            case u'\0':
                out.Put(u'%');
                break;
            default:
                // An unknown conversion is copied as it stands, never read
                // as an argument.
                out.Put(u'%');
                break;
        }
    }
    va_end(arguments);
    return out.Finish();
}

}  // namespace sp::host
