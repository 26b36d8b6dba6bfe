// Any process command line through ParseCommandLine. The options must be
// what reading the arguments in order gives (values taken verbatim, reading
// ends at /i or /pi), and whatever the line, the modes must agree: one that
// does something else turns applying off, showing the patch list implies
// the patch-list mode, and a value never stands without its mode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_text.h"
#include "launcher/run_options.h"
#include "platform/standin/command_line.h"
#include "platform/standin/process.h"

namespace {

using Arguments = std::vector<std::u16string>;

void Check(bool holds) {
    if (!holds) std::abort();
}

char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

bool Is(const std::u16string& argument, std::u16string_view option) {
    if (argument.size() != option.size()) return false;
    for (std::size_t i = 0; i < option.size(); ++i)
        if (FoldAscii(argument[i]) != option[i]) return false;
    return true;
}

// The options a line asks for, read from the split arguments.
sp::RunOptions Expected(const Arguments& arguments, bool infoBefore) {
    sp::RunOptions expected;
    expected.infoMode = infoBefore;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        // Every option but /q asks for something other than applying.
        if (Is(argument, u"/q")) {
            expected.quiet = true;
            continue;
        }
        if (Is(argument, u"/e") || Is(argument, u"/p") || Is(argument, u"/i") ||
            Is(argument, u"/pi"))
            expected.applyMode = false;
        if (Is(argument, u"/e")) {
            expected.extractMode = true;
            if (hasValue) expected.extractPath = arguments[++i];
        }
        if (Is(argument, u"/p")) {
            expected.patchListMode = true;
            if (hasValue) expected.patchListFile = arguments[++i];
        }
        if (Is(argument, u"/i")) {
            expected.infoMode = true;
            break;
        }
        if (Is(argument, u"/pi")) {
            expected.patchListMode = expected.showPatchListMode = true;
            expected.infoMode = false;
            break;
        }
    }
    return expected;
}

bool SameOptions(const sp::RunOptions& a, const sp::RunOptions& b) {
    return a.quiet == b.quiet && a.applyMode == b.applyMode && a.extractMode == b.extractMode &&
           a.extractPath == b.extractPath && a.patchListMode == b.patchListMode &&
           a.patchListFile == b.patchListFile && a.showPatchListMode == b.showPatchListMode &&
           a.infoMode == b.infoMode;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // infoMode survives from an earlier parse, so start from either value.
    const bool infoBefore = (data[0] & 1) != 0;
    const std::u16string line = sp::fuzz::BytesToUtf16(data + 1, size - 1);

    sp::runOptions.infoMode = infoBefore;
    sp::standin::SetProcessCommandLine(line);
    Check(sp::ParseCommandLine());
    const sp::RunOptions options = sp::runOptions;

    // What holds for any line, however its options are ordered.
    if (options.applyMode) {
        Check(!options.extractMode && !options.patchListMode && !options.showPatchListMode);
        Check(options.extractPath.empty() && options.patchListFile.empty());
        Check(options.infoMode == infoBefore);
    }
    if (!infoBefore)
        Check(options.applyMode ==
              !(options.extractMode || options.patchListMode || options.infoMode));
    if (options.showPatchListMode)
        Check(options.patchListMode && !options.infoMode && !options.applyMode);
    if (!options.extractPath.empty()) Check(options.extractMode);
    if (!options.patchListFile.empty()) Check(options.patchListMode);

    // The line is handed over as a C string: it ends at the first null.
    const Arguments arguments =
        sp::standin::SplitCommandLine(std::u16string_view(line).substr(0, line.find(u'\0')));
    Check(SameOptions(options, Expected(arguments, infoBefore)));

    // Parsing the same line again gives the same options.
    Check(sp::ParseCommandLine());
    Check(SameOptions(sp::runOptions, options));
    return 0;
}
