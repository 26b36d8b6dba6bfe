// Reads one summary property of a package through the stand-in installer
// binding, as the service pack does, for bench/summary.sh.
//
//   read_summary PACKAGE [PROPERTY] [--repeat K] [--io]
//
// Prints the property's text (default 7, the target products) to standard
// output. --repeat K opens and reads it K times more and prints the time of
// one open-read-close to standard error; --io prints what the first open and
// read cost in bytes and read calls, from the process's own I/O counters.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/installer.h"
#include "platform/standin/utf.h"

namespace {

using namespace sp::installer;

struct IoCounters {
    unsigned long long rchar = 0;  // bytes asked of read-like calls
    unsigned long long syscr = 0;  // read-like calls
};

IoCounters ReadIoCounters() {
    IoCounters counters;
    std::ifstream io("/proc/self/io");
    std::string key;
    unsigned long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") counters.rchar = value;
        if (key == "syscr:") counters.syscr = value;
    }
    return counters;
}

// One open, read and close, as the service pack's summary reading does it:
// a first buffer, and a second try when the text is longer.
bool ReadProperty(const std::u16string& path, std::uint32_t property, std::u16string& text) {
    MSIHANDLE summary = 0;
    if (MsiGetSummaryInformationW(0, path.c_str(), 0, &summary) != ERROR_SUCCESS) return false;
    std::uint32_t type = 0;
    int integer = 0;
    FileTime time{};
    std::vector<char16_t> buffer(2048);
    std::uint32_t capacity = static_cast<std::uint32_t>(buffer.size());
    std::uint32_t result = MsiSummaryInfoGetPropertyW(summary, property, &type, &integer, &time,
                                                      buffer.data(), &capacity);
    if (result == ERROR_MORE_DATA) {
        buffer.assign(capacity + 1, u'\0');
        capacity += 1;
        result = MsiSummaryInfoGetPropertyW(summary, property, &type, &integer, &time,
                                            buffer.data(), &capacity);
    }
    MsiCloseHandle(summary);
    if (result != ERROR_SUCCESS) return false;
    text.assign(buffer.data(), capacity);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* package = nullptr;
    std::uint32_t property = PID_TEMPLATE;
    long repeat = 0;
    bool io = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--io") == 0) {
            io = true;
        } else if (package == nullptr) {
            package = argv[i];
        } else {
            property = static_cast<std::uint32_t>(std::strtoul(argv[i], nullptr, 10));
        }
    }
    if (package == nullptr) {
        std::fprintf(stderr, "usage: read_summary PACKAGE [PROPERTY] [--repeat K] [--io]\n");
        return 2;
    }
    // The installer takes a full path.
    const std::u16string path =
        sp::standin::Utf8ToUtf16(std::filesystem::absolute(package).string());

    const IoCounters before = ReadIoCounters();
    std::u16string text;
    if (!ReadProperty(path, property, text)) {
        std::fprintf(stderr, "read_summary: cannot read property %u of %s\n", property, package);
        return 1;
    }
    const IoCounters after = ReadIoCounters();
    std::printf("%s\n", sp::standin::Utf16ToUtf8(text).c_str());
    if (io) {
        // Reading /proc/self/io is itself a read; the one before the open is
        // counted in `after` and taken off.
        const IoCounters probe = ReadIoCounters();
        const unsigned long long probeBytes = probe.rchar - after.rchar;
        const unsigned long long probeCalls = probe.syscr - after.syscr;
        std::fprintf(stderr, "read: %llu bytes in %llu calls\n",
                     after.rchar - before.rchar - probeBytes,
                     after.syscr - before.syscr - probeCalls);
    }
    if (repeat > 0) {
        std::u16string again;
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < repeat; ++i) {
            if (!ReadProperty(path, property, again) || again != text) return 1;
        }
        const std::chrono::duration<double, std::micro> spent =
            std::chrono::steady_clock::now() - start;
        std::fprintf(stderr, "one open-read-close: %.2f us (mean of %ld)\n",
                     spent.count() / static_cast<double>(repeat), repeat);
    }
    return 0;
}
