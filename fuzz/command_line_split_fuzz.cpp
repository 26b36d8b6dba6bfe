// Any UTF-16 line through the stand-in's command-line splitter: it splits
// as a model written from the rules in runs of like characters does, and
// the line JoinCommandLine writes for what it split splits back to the same
// arguments.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_text.h"
#include "platform/standin/command_line.h"

using sp::standin::JoinCommandLine;
using sp::standin::SplitCommandLine;

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::size_t RunLength(std::u16string_view line, std::size_t i, char16_t c) {
    std::size_t n = 0;
    while (i + n < line.size() && line[i + n] == c) ++n;
    return n;
}

// The rules, applied to whole runs: n backslashes before a quote give n / 2
// and, when n is odd, a literal quote; a run of k quotes entered inside
// quoting counts as k + 1; every third quote of a run is a literal one, and
// one left over means inside quoting afterwards.
std::vector<std::u16string> Model(std::u16string_view line) {
    std::vector<std::u16string> arguments(1);
    std::size_t i = 0;
    if (!line.empty() && line[0] == u'"') {
        const std::size_t close = line.find(u'"', 1);
        arguments[0] = line.substr(1, close == line.npos ? line.npos : close - 1);
        i = close == line.npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !IsBlank(line[i])) arguments[0] += line[i++];
    }

    bool inside = false;
    bool open = false;  // an argument has started
    while (i < line.size()) {
        if (IsBlank(line[i]) && !inside) {
            ++i;
            open = false;
            continue;
        }
        if (!open) arguments.emplace_back();
        open = true;
        std::u16string& argument = arguments.back();
        if (line[i] == u'\\') {
            const std::size_t backslashes = RunLength(line, i, u'\\');
            i += backslashes;
            const bool quoteFollows = i < line.size() && line[i] == u'"';
            argument.append(quoteFollows ? backslashes / 2 : backslashes, u'\\');
            if (quoteFollows && backslashes % 2 == 1) {
                argument += u'"';
                ++i;
            }
        } else if (line[i] == u'"') {
            const std::size_t quotes = RunLength(line, i, u'"');
            i += quotes;
            const std::size_t counted = quotes + (inside ? 1 : 0);
            argument.append(counted / 3, u'"');
            inside = counted % 3 == 1;
        } else {
            argument += line[i++];
        }
    }
    return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string line = sp::fuzz::BytesToUtf16(data, size);
    std::vector<std::u16string> arguments = SplitCommandLine(line);
    if (arguments != Model(line)) std::abort();

    // An unquoted program name may hold a quote, but a joined line cannot
    // carry one in argument 0: Join drops it, so compare without it.
    const std::u16string joined = JoinCommandLine(arguments);
    std::erase(arguments[0], u'"');
    if (SplitCommandLine(joined) != arguments) std::abort();
    return 0;
}
