#include <new>

#include "launcher/run_options.h"

namespace sp {

RunOptions runOptions;

namespace {

bool IsOption(const char16_t* argument, const char16_t* option) {
    return host::_wcsicmp(argument, option) == 0;
}

// Releases the argument array on every way out of the parser.
class ArgumentArray {
  public:
    explicit ArgumentArray(char16_t** argv) : argv_(argv) {}
    ~ArgumentArray() {
        if (argv_ != nullptr) host::GlobalFree(argv_);
    }
    ArgumentArray(const ArgumentArray&) = delete;
    ArgumentArray& operator=(const ArgumentArray&) = delete;
    char16_t** get() const { return argv_; }

  private:
    char16_t** argv_;
};

}  // namespace

bool ParseCommandLine() {
    runOptions.quiet = false;
    runOptions.applyMode = true;
    runOptions.extractMode = false;
    runOptions.extractPath.clear();
    runOptions.patchListMode = false;
    runOptions.patchListFile.clear();
    runOptions.showPatchListMode = false;

    const WideString commandLine = host::GetCommandLineW();
    int count = 0;
    ArgumentArray argv(host::CommandLineToArgvW(commandLine.c_str(), &count));
    if (argv.get() == nullptr) return true;

    try {
        for (int i = 1; i < count; ++i) {
            const char16_t* argument = argv.get()[i];
            if (IsOption(argument, u"/q")) {
                runOptions.quiet = true;
            } else if (IsOption(argument, u"/e")) {
                runOptions.extractMode = true;
                runOptions.applyMode = false;
                if (i + 1 < count) runOptions.extractPath = argv.get()[++i];
            } else if (IsOption(argument, u"/p")) {
                runOptions.patchListMode = true;
                runOptions.applyMode = false;
                if (i + 1 < count) runOptions.patchListFile = argv.get()[++i];
            } else if (IsOption(argument, u"/i")) {
                runOptions.applyMode = false;
                runOptions.infoMode = true;
                break;
            } else if (IsOption(argument, u"/pi")) {
                runOptions.applyMode = false;
                runOptions.infoMode = false;
                runOptions.showPatchListMode = true;
                runOptions.patchListMode = true;
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        // Out of memory while copying a value: what was read so far stands.
    }
    return true;
}

}  // namespace sp
