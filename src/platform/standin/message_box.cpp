#include "platform/standin/message_box.h"

#include <cstdio>

#include "platform/host.h"
#include "platform/standin/log.h"
#include "platform/standin/utf.h"

namespace sp::standin {
namespace {

const char* IconWord(std::uint32_t flags) {
    switch (flags & 0xF0) {
        case host::MB_ICONERROR:
            return "[Error] ";
        case host::MB_ICONWARNING:
            return "[Warning] ";
        case host::MB_ICONINFORMATION:
            return "[Information] ";
        default:
            return "";
    }
}

}  // namespace

std::string FormatMessageLogLine(std::uint32_t flags, std::u16string_view caption,
                                 std::u16string_view body) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(flags));
    return std::string(hex) + '\t' + EscapeLogField(caption) + '\t' + EscapeLogField(body) + '\n';
}

std::string DrawMessageBox(std::uint32_t flags, std::u16string_view caption,
                           std::u16string_view body) {
    std::string box = "+--- " + Utf16ToUtf8(caption) + " ---\n| " + IconWord(flags);
    for (char c : Utf16ToUtf8(body)) {
        if (c == '\r') continue;
        box += c;
        if (c == '\n') box += "| ";
    }
    box += "\n|\n|                                  [ OK ]\n+---\n";
    return box;
}

}  // namespace sp::standin
