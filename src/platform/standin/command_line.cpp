#include "platform/standin/command_line.h"

namespace sp::standin {
namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
    std::vector<std::u16string> arguments;
    std::size_t i = 0;

    // Program name: no escapes at all, since a path cannot hold a quote.
    std::u16string program;
    if (i < line.size() && line[i] == u'"') {
        ++i;
        while (i < line.size() && line[i] != u'"') program += line[i++];
        if (i < line.size()) ++i;
    } else {
        while (i < line.size() && !IsBlank(line[i])) program += line[i++];
    }
    arguments.push_back(std::move(program));
    while (i < line.size() && IsBlank(line[i])) ++i;

    std::u16string current;
    bool inArgument = false;
    int quotes = 0;  // quotes counted since quoting opened; odd means inside
    while (i < line.size()) {
        const char16_t c = line[i];
        if (IsBlank(c) && quotes == 0) {
            if (inArgument) arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
            ++i;
            continue;
        }
        inArgument = true;
        if (c == u'\\') {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == u'\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == u'"') {
                current.append(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) {
                    current += u'"';
                    ++i;
                }
            } else {
                current.append(backslashes, u'\\');
            }
            continue;
        }
        if (c == u'"') {
            ++quotes;
            ++i;
            while (i < line.size() && line[i] == u'"') {
                if (++quotes == 3) {
                    current += u'"';
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2) quotes = 0;
            continue;
        }
        current += c;
        ++i;
    }
    if (inArgument) arguments.push_back(std::move(current));
    return arguments;
}

std::u16string JoinCommandLine(const std::vector<std::u16string>& arguments) {
    std::u16string line;
    for (std::size_t n = 0; n < arguments.size(); ++n) {
        const std::u16string& argument = arguments[n];
        if (n == 0) {
            line += u'"';
            for (char16_t c : argument)
                if (c != u'"') line += c;
            line += u'"';
            continue;
        }
        line += u' ';
        const bool plain =
            !argument.empty() && argument.find_first_of(u" \t\"") == std::u16string::npos;
        if (plain) {
            line += argument;
            continue;
        }
        line += u'"';
        std::size_t backslashes = 0;
        for (char16_t c : argument) {
            if (c == u'\\') {
                ++backslashes;
                continue;
            }
            if (c == u'"') {
                line.append(backslashes * 2 + 1, u'\\');
            } else {
                line.append(backslashes, u'\\');
            }
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, u'\\');
        line += u'"';
    }
    return line;
}

}  // namespace sp::standin
