// Running the Windows build under Wine and reading back what it did.
//
// A run is traced with WINEDEBUG=+relay, restricted by the prefix's
// RelayInclude setting to the calls a user would notice: message boxes, the
// thread locale and the installer. Wine prints each traced call as
//
// clang-format off
//   0024:Call user32.MessageBoxW(00000000,140004014 L"Gr\00f6\00dfe\n",14000400 L"Box",00050040) ret=1400158b
//   0024:Ret  user32.MessageBoxW() retval=ffffffff ret=1400158b
// clang-format on
//
// (thread id, function, arguments; integers and pointers in hex, a string
// argument as its address followed by the string). RelayCalls() pairs these
// lines up and turns the strings back into UTF-8.
//
// Wine cuts long strings: it stops once the escaped text (the part between
// the quotes) has passed about 290 characters and puts "..." after the
// closing quote. That is some 290 ASCII characters, but only 58 characters
// that each print as a \XXXX escape. Such an argument is marked in
// RelayCall::cut; compare it as a prefix of what was expected.
//
// Wine hands only the low eight bits of a Windows exit code to the Unix
// parent (1603 comes back as 67). RunUnderWine() also traces ExitProcess and
// recovers the whole code from there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sp::test {

// The variable's value, or `fallback` when it is unset or empty.
std::string FromEnvironment(const char* name, const std::string& fallback);
// The wine64 loader: SP_WINE64, else Debian's.
std::string Wine64();

// What RelayInclude is set to in every prepared prefix.
inline constexpr const char* kRelayInclude =
    "user32.MessageBoxW;kernel32.SetThreadLocale;msi.*;kernel32.ExitProcess";

struct WinePrefix {
    std::string path;  // absolute
};

// The prefix the Windows tests share unless they make their own:
// $SP_TEST_WINEPREFIX, else ${TMPDIR:-/tmp}/sp-test-wineprefix-<uid>. (Not
// SP_WINEPREFIX: that is the fixture scripts' prefix, whose server they end.)
std::string DefaultWinePrefixDir();

// Creates the prefix in `dir` on first use (about ten seconds) and sets
// HKCU\Software\Wine\Debug\RelayInclude to kRelayInclude; nothing else in it
// is changed. A prefix that already has the setting is reused as it is.
// Safe to call from several test processes at once. Throws std::runtime_error.
WinePrefix PrepareWinePrefix(const std::string& dir);

// A private copy of a prepared prefix that no program is running in, for a
// test that installs products of its own. Wine's own libraries are linked,
// not copied (they are some 700 MB and never written), so this takes a
// fraction of a second. `dir` must not exist yet. Throws std::runtime_error.
WinePrefix ClonePrefix(const WinePrefix& prepared, const std::string& dir);

struct WineRun {
    // The program's exit code as Windows saw it (all 32 bits, read from the
    // ExitProcess trace); when the program never called ExitProcess, the low
    // eight bits Wine passed on; -1 when it was killed after the timeout.
    int exitCode = -1;
    std::string relay;  // standard error of the run: the +relay trace
    std::string out;    // standard output
};

// Runs `exe` (a Unix path) with `args` under wine64 in the prefix, in `cwd`
// (a Unix directory; empty: the current one), with WINEDEBUG=+relay,+loaddll
// and no display, so message boxes return at once. `env` entries
// "NAME=value" are added last ("LC_ALL=de_DE.UTF-8" makes the user default
// locale 1031); "NAME" alone removes a variable. Wine rebuilds the Windows
// command line from `args`, quoting an argument with blanks or quotes the way
// the C runtime splits it again. Killed after `timeoutSeconds`.
WineRun RunUnderWine(const WinePrefix& prefix, const std::string& exe,
                     const std::vector<std::string>& args, const std::string& cwd,
                     const std::vector<std::string>& env, int timeoutSeconds = 120);

// Installs a product package with `msiexec /i ... /qn`; throws
// std::runtime_error if the installer reports anything but success.
void InstallProduct(const WinePrefix& prefix, const std::string& msiPath);

// Ends every Wine process of the prefix and its server (the registry is
// saved first). Each run leaves a server that ends by itself a few seconds
// after its last program; call this when a suite is done with a prefix. Do not
// call it while another test may be running in the same prefix.
void StopWineServer(const WinePrefix& prefix);

// "Z:\dir\file" for an absolute Unix path (the Z: drive is Unix's root).
std::string WindowsPath(const std::string& unixPath);

struct RelayCall {
    std::string function;  // as asked for, e.g. "user32.MessageBoxW"
    std::string thread;    // the thread id Wine printed, e.g. "0024"
    // String arguments unescaped to UTF-8 (an ANSI string as its bytes);
    // anything else as Wine printed it: "00000000", "00050040", ...
    std::vector<std::string> arguments;
    std::vector<bool> isString;  // per argument
    std::vector<bool> cut;       // per argument: a string Wine cut short
    // The return value as printed ("00000643"); empty when the trace has no
    // Ret for the call (the process died inside it).
    std::string result;
};

// Every call of `function` ("module.Name"; the module is matched without
// regard to case, as Wine prints some in capitals: KERNEL32), in the order
// the calls began, each paired with its return on the same thread.
// Throws std::runtime_error on a traced line it cannot read.
std::vector<RelayCall> RelayCalls(const std::string& relay, const std::string& function);

struct MessageBox {
    std::string caption;  // empty for a null caption (Windows then shows "Error")
    std::string body;
    std::uint32_t flags = 0;
    bool cut = false;  // caption or body was cut short in the trace
};

// The MessageBoxW calls in the trace, in order.
std::vector<MessageBox> MessageBoxes(const std::string& relay);

// The number in a value Wine printed in hex ("00000643" is 1603).
std::uint64_t RelayNumber(const std::string& printed);

// Turns one string as Wine's trace prints it, from the opening L" or " up to
// and including the closing quote and an optional "...", back into UTF-8:
// \n \r \t \" \\, \XXXX (a UTF-16 unit in hex, surrogate pairs joined) in wide
// strings, \xNN (a byte) in ANSI ones. Sets `*cut` when "..." follows.
// Throws std::runtime_error on anything else.
std::string UnescapeRelayString(std::string_view printed, bool* cut = nullptr);

// The exit code the program `exeName` (its file name) passed to ExitProcess,
// from a +relay,+loaddll trace that includes kernel32.ExitProcess: the call
// made on the thread that loaded that program. Other processes in the trace
// (Wine's services, the installer's own) are ignored.
std::optional<std::uint32_t> ExitCodeFromRelay(const std::string& relay,
                                               const std::string& exeName);

}  // namespace sp::test
