// Shared by the end-to-end tests: running a service pack on a stand-in
// machine and reading the boxes it showed.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "process.h"

namespace sp::test {

inline std::string ServicePack(const std::string& name) {
    return std::string(SP_E2E_BIN_DIR "/") + name;
}

inline std::vector<std::string> LogLines(const std::string& path) {
    std::vector<std::string> lines;
    if (!FileExists(path)) return lines;
    const std::string all = ReadFileBytes(path);
    for (std::size_t start = 0; start < all.size();) {
        const std::size_t end = all.find('\n', start);
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A machine with its own temporary directory (tmp/) and message log; the
// service pack runs with the machine's folder as working directory.
struct Machine {
    TempDir dir;
    std::string tmp = dir / "tmp";
    Machine() { ::mkdir(tmp.c_str(), 0755); }
    ProcessResult Run(const std::string& servicePack, const std::vector<std::string>& arguments,
                      const std::string& locale = "1033") const {
        return RunProcess(ServicePack(servicePack), arguments,
                          {"TMP=" + tmp, "TEMP", "SP_STANDIN_MESSAGE_LOG=" + (dir / "boxes.log"),
                           "SP_STANDIN_LOCALE=" + locale, "SP_STANDIN_PRODUCTS"},
                          dir.path());
    }
    std::vector<std::string> Boxes() const { return LogLines(dir / "boxes.log"); }
};

}  // namespace sp::test
