#include "wine_harness.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>

#include "process.h"

namespace sp::test {

std::string FromEnvironment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string Wine64() {
    return FromEnvironment("SP_WINE64", "/usr/lib/wine/wine64");
}

namespace {

namespace fs = std::filesystem;

std::string WineServer() {
    return FromEnvironment("SP_WINESERVER", "/usr/lib/wine/wineserver");
}

std::string Absolute(const std::string& path) {
    std::string result = fs::absolute(path).lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

// Everything a Wine call of ours runs with. No display, so message boxes
// return at once; no menu entries written to the user's home; no attempt to
// install the .NET and HTML runtimes when a prefix is made.
std::vector<std::string> WineEnvironment(const WinePrefix& prefix, const std::string& debug,
                                         bool creating = false) {
    return {"WINEPREFIX=" + prefix.path, "WINEDEBUG=" + debug,
            creating ? "WINEDLLOVERRIDES=winemenubuilder.exe=d;mscoree=d;mshtml=d"
                     : "WINEDLLOVERRIDES=winemenubuilder.exe=d",
            "DISPLAY", "WAYLAND_DISPLAY"};
}

std::string Tail(const std::string& text, std::size_t size = 2000) {
    return text.size() <= size ? text : "..." + text.substr(text.size() - size);
}

void Require(const ProcessResult& result, const std::string& what) {
    if (result.exitCode != 0)
        throw std::runtime_error(what + " ended with " + std::to_string(result.exitCode) + "\n" +
                                 Tail(result.err));
}

bool HasRelaySetting(const std::string& prefixDir) {
    if (!FileExists(prefixDir + "/user.reg")) return false;
    const std::string wanted = std::string("\"RelayInclude\"=\"") + kRelayInclude + "\"";
    return ReadFileBytes(prefixDir + "/user.reg").find(wanted) != std::string::npos;
}

// Serialises the making of one prefix among test processes.
class PrefixLock {
  public:
    explicit PrefixLock(const std::string& prefixDir) {
        fd_ = ::open((prefixDir + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0)
            throw std::runtime_error("cannot lock " + prefixDir + ".lock");
    }
    ~PrefixLock() { ::close(fd_); }
    PrefixLock(const PrefixLock&) = delete;
    PrefixLock& operator=(const PrefixLock&) = delete;

  private:
    int fd_ = -1;
};

// ---- reading the trace ------------------------------------------------------

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Splits "0024:Call ..." (or "0020:0024:Call ..." with +pid) into the thread
// part and the rest. Returns false for lines that do not start that way.
bool SplitThread(std::string_view line, std::string_view& thread, std::string_view& rest) {
    std::size_t p = 0;
    for (;;) {
        std::size_t q = p;
        while (q < line.size() && IsHex(line[q])) ++q;
        if (q == p || q >= line.size() || line[q] != ':') break;
        p = q + 1;
    }
    if (p == 0) return false;
    thread = line.substr(0, p - 1);
    rest = line.substr(p);
    return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// "module.Name" as asked for against "MODULE.Name" as printed.
bool SameFunction(std::string_view printed, std::string_view wanted) {
    const auto a = printed.rfind('.');
    const auto b = wanted.rfind('.');
    if (a == std::string_view::npos || b == std::string_view::npos) return false;
    return printed.substr(a) == wanted.substr(b) &&
           EqualsIgnoringCase(printed.substr(0, a), wanted.substr(0, b));
}

// Index just past a string literal that starts at `p` (at L" or "),
// including a trailing "...".
std::size_t SkipLiteral(std::string_view text, std::size_t p) {
    if (text[p] == 'L') ++p;
    ++p;  // opening quote
    while (p < text.size() && text[p] != '"') p += text[p] == '\\' ? 2 : 1;
    if (p >= text.size())
        throw std::runtime_error("unterminated string in trace: " + std::string(text));
    ++p;
    if (text.substr(p, 3) == "...") p += 3;
    return p;
}

bool LiteralStartsAt(std::string_view text, std::size_t p) {
    return text[p] == '"' || (text[p] == 'L' && p + 1 < text.size() && text[p + 1] == '"');
}

void AddArgument(RelayCall& call, std::string_view raw) {
    // A string argument is its address, a blank and the literal.
    const auto blank = raw.find(' ');
    if (blank != std::string_view::npos && blank + 1 < raw.size() &&
        LiteralStartsAt(raw, blank + 1)) {
        bool cut = false;
        call.arguments.push_back(UnescapeRelayString(raw.substr(blank + 1), &cut));
        call.isString.push_back(true);
        call.cut.push_back(cut);
    } else {
        call.arguments.emplace_back(raw);
        call.isString.push_back(false);
        call.cut.push_back(false);
    }
}

// Reads "(arg,arg,...)" starting at the parenthesis.
void ParseArguments(std::string_view text, std::size_t p, RelayCall& call) {
    if (p >= text.size() || text[p] != '(')
        throw std::runtime_error("no argument list in trace: " + std::string(text));
    ++p;
    if (p < text.size() && text[p] == ')') return;
    std::size_t start = p;
    while (p < text.size()) {
        if (LiteralStartsAt(text, p) && (p == start || text[p - 1] == ' ')) {
            p = SkipLiteral(text, p);
            continue;
        }
        if (text[p] == ',' || text[p] == ')') {
            AddArgument(call, text.substr(start, p - start));
            if (text[p] == ')') return;
            start = ++p;
            continue;
        }
        ++p;
    }
    throw std::runtime_error("unterminated argument list in trace: " + std::string(text));
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::uint32_t HexValue(std::string_view digits, std::string_view context) {
    std::uint32_t value = 0;
    for (const char c : digits) {
        if (!IsHex(c))
            throw std::runtime_error("bad escape in trace string: " + std::string(context));
        value = value * 16 + static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                                            ? c - '0'
                                                            : std::tolower(c) - 'a' + 10);
    }
    return value;
}

}  // namespace

// ---- prefixes and runs ------------------------------------------------------

std::string DefaultWinePrefixDir() {
    const std::string base = FromEnvironment("TMPDIR", "/tmp");
    return FromEnvironment("SP_TEST_WINEPREFIX",
                           base + "/sp-test-wineprefix-" + std::to_string(::getuid()));
}

WinePrefix PrepareWinePrefix(const std::string& dir) {
    const WinePrefix prefix{Absolute(dir)};
    fs::create_directories(fs::path(prefix.path).parent_path());
    const PrefixLock lock(prefix.path);
    if (HasRelaySetting(prefix.path)) return prefix;

    if (!FileExists(prefix.path + "/system.reg")) {
        Require(RunProcess(Wine64(), {"wineboot", "-i"}, WineEnvironment(prefix, "-all", true), {},
                           300),
                "wineboot -i in " + prefix.path);
    }
    Require(RunProcess(Wine64(),
                       {"reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/t",
                        "REG_SZ", "/d", kRelayInclude, "/f"},
                       WineEnvironment(prefix, "-all"), {}, 120),
            "reg add RelayInclude");
    // The server keeps the registry in memory; ending it writes user.reg.
    StopWineServer(prefix);
    if (!HasRelaySetting(prefix.path))
        throw std::runtime_error("RelayInclude did not reach " + prefix.path + "/user.reg");
    return prefix;
}

WinePrefix ClonePrefix(const WinePrefix& prepared, const std::string& dir) {
    const WinePrefix clone{Absolute(dir)};
    if (FileExists(clone.path)) throw std::runtime_error(clone.path + " already exists");
    // Files Wine only ever reads; everything else (the registry, .ini files
    // that are rewritten in place, users' folders) is copied.
    static const std::set<std::string> kShared = {".dll", ".exe", ".drv", ".sys", ".nls",
                                                  ".ocx", ".cpl", ".acm", ".tlb", ".ax",
                                                  ".ds",  ".ttf", ".ttc", ".fon", ".mui"};
    const fs::path from(prepared.path);
    const fs::path windows = from / "drive_c" / "windows";
    fs::create_directories(clone.path);
    for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator();
         ++it) {
        // Lexically: the prefix links users' folders to the Unix home, and
        // resolving those links would lead out of the prefix.
        const fs::path target = fs::path(clone.path) / it->path().lexically_relative(from);
        const auto status = it->symlink_status();
        if (fs::is_symlink(status)) {
            fs::copy_symlink(it->path(), target);
        } else if (fs::is_directory(status)) {
            fs::create_directory(target);
        } else if (fs::is_regular_file(status)) {
            std::string extension = it->path().extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            const auto inWindows =
                std::mismatch(windows.begin(), windows.end(), it->path().begin(), it->path().end());
            if (inWindows.first == windows.end() && kShared.count(extension)) {
                fs::create_hard_link(it->path(), target);
            } else {
                fs::copy_file(it->path(), target);
            }
        }
    }
    return clone;
}

WineRun RunUnderWine(const WinePrefix& prefix, const std::string& exe,
                     const std::vector<std::string>& args, const std::string& cwd,
                     const std::vector<std::string>& env, int timeoutSeconds) {
    const std::string program = Absolute(exe);
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), args.begin(), args.end());
    std::vector<std::string> environment = WineEnvironment(prefix, "+relay,+loaddll");
    environment.insert(environment.end(), env.begin(), env.end());

    const ProcessResult result = RunProcess(Wine64(), arguments, environment, cwd, timeoutSeconds);
    WineRun run;
    run.relay = result.err;
    run.out = result.out;
    if (result.exitCode < 0) {
        // Killed: take down whatever it left running in the prefix.
        StopWineServer(prefix);
        run.exitCode = -1;
        return run;
    }
    const auto code = ExitCodeFromRelay(run.relay, fs::path(program).filename().string());
    run.exitCode = code ? static_cast<int>(*code) : result.exitCode;
    return run;
}

void InstallProduct(const WinePrefix& prefix, const std::string& msiPath) {
    // msiexec reads a leading "/" as an option, so the package goes in as a
    // Windows path.
    const ProcessResult result =
        RunProcess(Wine64(), {"msiexec", "/i", WindowsPath(Absolute(msiPath)), "/qn"},
                   WineEnvironment(prefix, "-all"), {}, 300);
    if (result.exitCode != 0)
        throw std::runtime_error(
            "msiexec /i " + msiPath + " ended with " + std::to_string(result.exitCode) +
            " (the low eight bits of the installer's result)\n" + Tail(result.err));
}

void StopWineServer(const WinePrefix& prefix) {
    const std::vector<std::string> environment{"WINEPREFIX=" + prefix.path};
    // -k exits non-zero when no server runs, which is fine; -w then waits
    // until a server that was running has written the registry and gone.
    RunProcess(WineServer(), {"-k"}, environment, {}, 60);
    RunProcess(WineServer(), {"-w"}, environment, {}, 60);
}

std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// ---- reading the trace ------------------------------------------------------

std::string UnescapeRelayString(std::string_view printed, bool* cut) {
    const std::string context(printed);
    bool wide = false;
    std::size_t p = 0;
    if (!printed.empty() && printed[0] == 'L') {
        wide = true;
        ++p;
    }
    if (p >= printed.size() || printed[p] != '"')
        throw std::runtime_error("not a string in trace: " + context);
    ++p;

    std::string out;
    std::uint32_t pendingHigh = 0;  // a high surrogate waiting for its partner
    auto flushHigh = [&] {
        if (pendingHigh) AppendUtf8(out, 0xFFFD);
        pendingHigh = 0;
    };
    auto unit = [&](std::uint32_t u) {
        if (u >= 0xD800 && u <= 0xDBFF) {
            flushHigh();
            pendingHigh = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            if (pendingHigh) {
                AppendUtf8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (u - 0xDC00));
                pendingHigh = 0;
            } else {
                AppendUtf8(out, 0xFFFD);
            }
        } else {
            flushHigh();
            AppendUtf8(out, u);
        }
    };
    auto byte = [&](std::uint32_t b) {
        if (wide) {
            unit(b);
        } else {
            out += static_cast<char>(b);
        }
    };

    for (;;) {
        if (p >= printed.size())
            throw std::runtime_error("unterminated string in trace: " + context);
        const char c = printed[p];
        if (c == '"') break;
        if (c != '\\') {
            byte(static_cast<unsigned char>(c));
            ++p;
            continue;
        }
        if (p + 1 >= printed.size())
            throw std::runtime_error("bad escape in trace string: " + context);
        const char e = printed[p + 1];
        switch (e) {
            case 'n':
                byte('\n');
                p += 2;
                break;
            case 'r':
                byte('\r');
                p += 2;
                break;
            case 't':
                byte('\t');
                p += 2;
                break;
            case '"':
            case '\\':
                byte(static_cast<unsigned char>(e));
                p += 2;
                break;
            default:
                if (wide && p + 6 <= printed.size()) {
                    unit(HexValue(printed.substr(p + 1, 4), context));
                    p += 5;
                } else if (!wide && e == 'x' && p + 4 <= printed.size()) {
                    out += static_cast<char>(HexValue(printed.substr(p + 2, 2), context));
                    p += 4;
                } else {
                    throw std::runtime_error("bad escape in trace string: " + context);
                }
        }
    }
    flushHigh();
    ++p;  // closing quote
    const std::string_view after = printed.substr(p);
    if (!after.empty() && after != "...")
        throw std::runtime_error("text after string in trace: " + context);
    if (cut) *cut = after == "...";
    return out;
}

std::vector<RelayCall> RelayCalls(const std::string& relay, const std::string& function) {
    std::vector<RelayCall> calls;
    std::map<std::string, std::vector<std::size_t>, std::less<>> open;  // per thread
    std::size_t begin = 0;
    while (begin < relay.size()) {
        std::size_t end = relay.find('\n', begin);
        if (end == std::string::npos) end = relay.size();
        std::string_view line(relay.data() + begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        std::string_view thread, rest;
        if (!SplitThread(line, thread, rest)) continue;
        const bool isCall = rest.substr(0, 5) == "Call ";
        const bool isRet = rest.substr(0, 5) == "Ret  ";
        if (!isCall && !isRet) continue;
        rest.remove_prefix(5);
        const auto paren = rest.find('(');
        if (paren == std::string_view::npos || !SameFunction(rest.substr(0, paren), function))
            continue;

        auto& stack = open[std::string(thread)];
        if (isCall) {
            RelayCall call;
            call.function = function;
            call.thread = std::string(thread);
            ParseArguments(rest, paren, call);
            stack.push_back(calls.size());
            calls.push_back(std::move(call));
        } else if (!stack.empty()) {
            const auto at = rest.find(" retval=");
            if (at == std::string_view::npos)
                throw std::runtime_error("no retval in trace: " + std::string(line));
            std::string_view value = rest.substr(at + 8);
            value = value.substr(0, value.find(' '));
            calls[stack.back()].result = std::string(value);
            stack.pop_back();
        }
    }
    return calls;
}

std::vector<MessageBox> MessageBoxes(const std::string& relay) {
    std::vector<MessageBox> boxes;
    for (const RelayCall& call : RelayCalls(relay, "user32.MessageBoxW")) {
        if (call.arguments.size() != 4)
            throw std::runtime_error("MessageBoxW traced with " +
                                     std::to_string(call.arguments.size()) + " arguments");
        MessageBox box;
        if (call.isString[1]) box.body = call.arguments[1];
        if (call.isString[2]) box.caption = call.arguments[2];
        box.flags = static_cast<std::uint32_t>(RelayNumber(call.arguments[3]));
        box.cut = call.cut[1] || call.cut[2];
        boxes.push_back(std::move(box));
    }
    return boxes;
}

std::uint64_t RelayNumber(const std::string& printed) {
    if (printed.empty() || printed.size() > 16 ||
        !std::all_of(printed.begin(), printed.end(), IsHex))
        throw std::runtime_error("not a number in trace: \"" + printed + "\"");
    return std::stoull(printed, nullptr, 16);
}

std::optional<std::uint32_t> ExitCodeFromRelay(const std::string& relay,
                                               const std::string& exeName) {
    // "0024:trace:loaddll:build_module Loaded L"Z:\\dir\\probe.exe" at ..."
    // names the thread that started the program; its ExitProcess call comes
    // later in the trace.
    std::string mainThread;
    std::size_t begin = 0;
    while (begin < relay.size()) {
        std::size_t end = relay.find('\n', begin);
        if (end == std::string::npos) end = relay.size();
        const std::string_view line(relay.data() + begin, end - begin);
        begin = end + 1;

        std::string_view thread, rest;
        if (!SplitThread(line, thread, rest)) continue;
        if (mainThread.empty()) {
            const auto loaded = rest.find(" Loaded L\"");
            if (rest.substr(0, 14) != "trace:loaddll:" || loaded == std::string_view::npos)
                continue;
            const std::string_view literal = rest.substr(loaded + 8);
            const std::string path =
                UnescapeRelayString(literal.substr(0, SkipLiteral(literal, 0)));
            const std::string name = path.substr(path.find_last_of("\\/") + 1);
            if (EqualsIgnoringCase(name, exeName)) mainThread = std::string(thread);
        } else if (thread == mainThread && rest.substr(0, 5) == "Call ") {
            rest.remove_prefix(5);
            const auto paren = rest.find('(');
            if (paren == std::string_view::npos ||
                !SameFunction(rest.substr(0, paren), "kernel32.ExitProcess"))
                continue;
            RelayCall call;
            ParseArguments(rest, paren, call);
            if (call.arguments.size() != 1) return std::nullopt;
            return static_cast<std::uint32_t>(RelayNumber(call.arguments[0]));
        }
    }
    return std::nullopt;
}

}  // namespace sp::test
