#include "platform/standin/installer_command_line.h"

namespace sp::standin {
namespace {

bool IsNameCharacter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'.';
}

}  // namespace

bool ParseInstallerCommandLine(std::u16string_view line,
                               std::vector<std::pair<std::u16string, std::u16string>>& properties) {
    properties.clear();
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && line[i] == u' ') ++i;
        if (i == line.size()) return true;

        const std::size_t nameStart = i;
        while (i < line.size() && IsNameCharacter(line[i])) ++i;
        // Anything but '=' here is a token without one or a name with a
        // character no property name has.
        if (i == nameStart || i == line.size() || line[i] != u'=') {
            properties.clear();
            return false;
        }
        std::u16string name(line.substr(nameStart, i - nameStart));
        ++i;

        std::u16string value;
        if (i < line.size() && line[i] == u'"') {
            ++i;
            for (;;) {
                if (i == line.size()) {
                    properties.clear();
                    return false;
                }
                if (line[i] == u'"') {
                    if (i + 1 < line.size() && line[i + 1] == u'"') {
                        value += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += line[i++];
            }
            if (i < line.size() && line[i] != u' ') {
                properties.clear();
                return false;
            }
        } else {
            const std::size_t valueStart = i;
            while (i < line.size() && line[i] != u' ') ++i;
            value.assign(line.substr(valueStart, i - valueStart));
        }

        bool replaced = false;
        for (auto& [existingName, existingValue] : properties) {
            if (existingName == name) {
                existingValue = std::move(value);
                replaced = true;
                break;
            }
        }
        if (!replaced) properties.emplace_back(std::move(name), std::move(value));
    }
}

}  // namespace sp::standin
