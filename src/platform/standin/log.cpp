#include "platform/standin/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/standin/utf.h"

namespace sp::standin {

std::string EscapeLogField(std::u16string_view text) {
    std::string escaped;
    for (char c : Utf16ToUtf8(text)) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\t':
                escaped += "\\t";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

void AppendToLog(const char* variable, const std::string& line) {
    const char* path = std::getenv(variable);
    if (path == nullptr || *path == '\0') return;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        std::fprintf(stderr, "stand-in: cannot append to %s (%s)\n", variable, path);
    if (fd >= 0) ::close(fd);
}

}  // namespace sp::standin
