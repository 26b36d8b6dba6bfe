#include "windows_helpers.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

namespace sp::test {
namespace {

namespace fs = std::filesystem;

bool WineRequired() {
    const std::string value =
        FromEnvironment("SP_REQUIRE_WINE", SP_CONFIGURED_REQUIRE_WINE ? "1" : "0");
    return value == "1" || value == "ON" || value == "on" || value == "TRUE" || value == "true";
}

}  // namespace

std::string WindowsBuildDir() {
    return FromEnvironment("SP_WINDOWS_BUILD_DIR", SP_CONFIGURED_WINDOWS_DIR);
}

std::string WindowsExe(const std::string& name) {
    return WindowsBuildDir() + "/" + name + ".exe";
}

const WinePrefix& SharedPrefix() {
    static std::once_flag once;
    static WinePrefix prefix;
    std::call_once(once, [] { prefix = PrepareWinePrefix(DefaultWinePrefixDir()); });
    return prefix;
}

void WineTest::SetUp() {
    std::string missing;
    if (!FileExists(Wine64())) missing = Wine64() + " is not installed";
    for (const char* exe : {"servicepack", "sp_standard", "sp_no-separator", "sp_two-targets",
                            "sp_upgrade-listed-first", "sp_umlauts"})
        if (missing.empty() && !FileExists(WindowsExe(exe)))
            missing = WindowsExe(exe) + " is not built (cmake --build --preset windows-x64)";
    if (!missing.empty()) {
        if (WineRequired()) GTEST_FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    scratch_ = std::make_unique<TempDir>();
    prefix_ = ClonePrefix(SharedPrefix(), *scratch_ / "prefix");
    cloned_ = true;
    ASSERT_EQ(::mkdir(work().c_str(), 0755), 0);
}

void WineTest::TearDown() {
    if (cloned_) StopWineServer(prefix_);
}

WineRun WineTest::Run(const std::string& name, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment) const {
    return RunUnderWine(prefix_, WindowsExe(name), arguments, work(), environment);
}

void WineTest::Install(const std::string& code, const std::string& name, const std::string& version,
                       const std::string& language, const std::string& behaviour) {
    const std::string msi = *scratch_ / ("product-" + code.substr(code.size() - 3, 2) + ".msi");
    std::vector<std::string> arguments{
        SP_FIXTURES_DIR "/make_product.sh", msi, code, name, version, language};
    if (!behaviour.empty()) arguments.push_back(behaviour);
    const ProcessResult made = RunProcess("/bin/sh", arguments, {}, {}, 120);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    InstallProduct(prefix_, msi);
}

std::string WineTest::TempFolder() const {
    // Wine names the user's folder after the Unix user; "Public" is shared.
    for (const auto& user : fs::directory_iterator(fs::path(prefix_.path) / "drive_c" / "users")) {
        if (user.path().filename() == "Public") continue;
        for (const char* temp : {"AppData/Local/Temp", "Temp"})
            if (fs::is_directory(user.path() / temp)) return (user.path() / temp).string();
    }
    return {};
}

std::string TraceHead(const WineRun& run, std::size_t size) {
    return run.relay.substr(0, size);
}

}  // namespace sp::test

namespace sp::test {
namespace {

// Splits off "<thread>:" prefixes the way Wine writes them ("0024:" or
// "0020:0024:" with +pid); returns false for lines that are not traces.
bool ThreadAndRest(const std::string& line, std::string& thread, std::string& rest) {
    std::size_t p = 0;
    for (;;) {
        std::size_t q = p;
        while (q < line.size() && std::isxdigit(static_cast<unsigned char>(line[q]))) ++q;
        if (q == p || q >= line.size() || line[q] != ':') break;
        p = q + 1;
    }
    if (p == 0) return false;
    thread = line.substr(0, p - 1);
    rest = line.substr(p);
    return true;
}

std::vector<std::string> TraceLines(const std::string& relay) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < relay.size();) {
        std::size_t end = relay.find('\n', start);
        if (end == std::string::npos) end = relay.size();
        lines.push_back(relay.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<MessageBox> BoxesAtDepth(const std::string& relay, bool insideInstaller) {
    std::map<std::string, int> depth;  // installer calls open per thread
    std::string own;
    for (const std::string& line : TraceLines(relay)) {
        std::string thread, rest;
        if (!ThreadAndRest(line, thread, rest)) continue;
        if (rest.starts_with("Call msi.")) {
            ++depth[thread];
        } else if (rest.starts_with("Ret  msi.")) {
            --depth[thread];
        } else if (rest.starts_with("Call user32.MessageBoxW(") &&
                   (depth[thread] > 0) == insideInstaller) {
            own += line + "\n";
        }
    }
    return MessageBoxes(own);
}

}  // namespace

std::vector<MessageBox> ResultBoxes(const std::string& relay) {
    return BoxesAtDepth(relay, false);
}

std::vector<MessageBox> InstallerBoxes(const std::string& relay) {
    return BoxesAtDepth(relay, true);
}

std::vector<std::string> CallOrder(const std::string& relay,
                                   const std::vector<std::string>& functions) {
    std::vector<std::string> order;
    for (const std::string& line : TraceLines(relay)) {
        std::string thread, rest;
        if (!ThreadAndRest(line, thread, rest)) continue;
        for (const std::string& function : functions)
            if (rest.starts_with("Call " + function + "(")) order.push_back(function);
    }
    return order;
}

std::string Utf8FromWindows1252(const std::string& text) {
    // 0x80-0x9F are where Windows-1252 differs from Latin-1.
    static const char16_t kHigh[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    std::string out;
    for (const unsigned char c : text) {
        const char32_t u = c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c;
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

void ExpectBox(const MessageBox& box, const std::string& caption, std::uint32_t flags,
               const std::string& body, bool bodyIsWhole) {
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.flags, flags) << std::hex << box.flags;
    if (box.cut || !bodyIsWhole) {
        // Wine keeps some 58 to 290 characters of a long string.
        EXPECT_GE(box.body.size(), std::min<std::size_t>(body.size(), 50)) << box.body;
        EXPECT_TRUE(body.starts_with(box.body) || box.body.starts_with(body))
            << "shown:    " << box.body << "\nexpected: " << body;
        if (!box.cut) {
            EXPECT_TRUE(box.body.starts_with(body)) << box.body;
        }
    } else {
        EXPECT_EQ(box.body, body);
    }
}

}  // namespace sp::test
