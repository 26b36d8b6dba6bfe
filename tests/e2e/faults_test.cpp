// The promises that must hold when the machine misbehaves: a full disk, a
// temporary directory that is no directory, a products file that is broken
// or changes under the running pass, a damaged package, and two service
// packs sharing one temporary directory. Every failure reaches the user as
// the box that is due (silence for the user's own "/e"), never as success.
//
// The tests run as root in CI, and root writes into read-only directories;
// faults are therefore made in ways root feels too: /dev/full, a file-size
// limit on the child process (the write fails midway, as on a full disk), a
// regular file where a directory is expected, a FIFO that holds the pass at
// a chosen moment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "run_helpers.h"

extern char** environ;

namespace sp::test {
namespace {

const std::string kA = "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}";
const std::string kProducts =
    "[" + kA + "]\nState=5\nProductName=Quorvane Studio A\nLanguage=1033\nVersionString=4.1.7.3\n";
const std::string kEmptyInfoBox = "0x00050030\tInfo\tProducts:\\n\\nTarget:\\n\\t\\nUpgrade:\\n\\t";
const std::string kStandardInfoBox =
    "0x00050030\tInfo\tProducts:\\n{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}\\n"
    "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B42}\\nTarget:\\n\\t4.1.7.3,\\nUpgrade:\\n\\t4.1.20.0";
const std::string kFailedBox = "0x00050010\tInstallation Error\t";
const std::string kNotFoundPart = "expected Quorvane product could not be located";

std::string StandardPackage() {
    return ReadFileBytes(SP_FIXTURES_DIR "/packages/standard.msp");
}

std::string RandomPackage() {
    return ReadFileBytes(SP_RANDOM_PACKAGE);
}

std::string Text(const char* name) {
    return ReadFileBytes(std::string(SP_TEXTS_DIR "/") + name);
}

std::string Blocks() {
    return "*****\r\n" + Text("first.txt") + "\r\n*****\r\n" + Text("second.txt") + "\r\n";
}

bool IsPrefixOf(const std::string& part, const std::string& whole) {
    return part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0;
}

// The error code a failure box names, or -1 when the box is no failure box.
long FailureCode(const std::string& box) {
    if (!box.starts_with(kFailedBox)) return -1;
    const std::size_t at = box.find("Error Code: ");
    return at == std::string::npos ? -1 : std::stol(box.substr(at + 12));
}

// A service pack started without waiting for it, so that a test can act
// while it runs (or run two at once). A file-size limit makes every write
// past it fail as a full disk would: the signal the kernel sends for it is
// ignored, so the write itself reports the failure.
class Child {
  public:
    Child(const std::string& servicePack, const std::vector<std::string>& arguments,
          const std::vector<std::string>& environment, const std::string& workingDirectory,
          long fileSizeLimit = -1) {
        std::map<std::string, std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const auto eq = entry.find('=');
            if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        for (const std::string& entry : environment) {
            const auto eq = entry.find('=');
            if (eq == std::string::npos)
                env.erase(entry);
            else
                env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        std::vector<std::string> envStrings;
        for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
        std::vector<std::string> argStrings{ServicePack(servicePack)};
        argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
        std::vector<char*> envp;
        std::vector<char*> argv;
        for (auto& s : envStrings) envp.push_back(s.data());
        for (auto& s : argStrings) argv.push_back(s.data());
        envp.push_back(nullptr);
        argv.push_back(nullptr);
        const std::string errPath = output_ / "stderr";

        pid_ = ::fork();
        if (pid_ == 0) {
            // Only what is safe between fork and exec.
            const int null = ::open("/dev/null", O_RDWR);
            const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (null < 0 || err < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 ||
                ::dup2(err, 2) < 0 || ::chdir(workingDirectory.c_str()) != 0)
                ::_exit(126);
            if (fileSizeLimit >= 0) {
                const rlimit limit{static_cast<rlim_t>(fileSizeLimit),
                                   static_cast<rlim_t>(fileSizeLimit)};
                if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
                ::signal(SIGXFSZ, SIG_IGN);
            }
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        if (pid_ < 0) throw std::runtime_error("fork failed");
    }
    ~Child() {
        if (!done_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // True once the process has ended; does not wait.
    bool Ended() {
        if (!done_) Reap(WNOHANG);
        return done_;
    }

    // The exit code, or -1 when the process did not exit normally (a crash,
    // or killed after a minute).
    int Wait() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!Ended()) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                Reap(0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return exitCode_;
    }

    std::string Err() const { return ReadFileBytes(output_ / "stderr"); }

  private:
    void Reap(int options) {
        int status = 0;
        if (::waitpid(pid_, &status, options) != pid_) return;
        done_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir output_;
    pid_t pid_ = -1;
    bool done_ = false;
    int exitCode_ = -1;
};

// A stand-in machine with a products file and an installer log beside the
// message log; `tmp` may be pointed elsewhere by a test.
struct Station : Machine {
    std::string products = dir / "products.ini";
    std::string installerLog = dir / "installer.log";
    std::string tmpVariable = tmp;

    std::vector<std::string> Environment() const {
        return {"TMP=" + tmpVariable,
                "TEMP",
                "SP_STANDIN_MESSAGE_LOG=" + (dir / "boxes.log"),
                "SP_STANDIN_LOCALE=1033",
                "SP_STANDIN_PRODUCTS=" + products,
                "SP_STANDIN_INSTALLER_LOG=" + installerLog};
    }
    std::unique_ptr<Child> Start(const std::string& servicePack,
                                 const std::vector<std::string>& arguments,
                                 long fileSizeLimit = -1) const {
        return std::make_unique<Child>(servicePack, arguments, Environment(), dir.path(),
                                       fileSizeLimit);
    }
    ProcessResult Run(const std::string& servicePack, const std::vector<std::string>& arguments,
                      long fileSizeLimit = -1) const {
        auto child = Start(servicePack, arguments, fileSizeLimit);
        ProcessResult result;
        result.exitCode = child->Wait();
        result.err = child->Err();
        return result;
    }
    std::vector<std::string> ConfigureCalls() const {
        std::vector<std::string> calls;
        for (const std::string& line : LogLines(installerLog))
            if (line.starts_with("MsiConfigureProductExW\t")) calls.push_back(line);
        return calls;
    }
};

bool ShowsSuccess(const std::vector<std::string>& boxes) {
    for (const std::string& box : boxes)
        if (box.find("\tInstallation Successful\t") != std::string::npos) return true;
    return false;
}

// ---------------------------------------------------------------------------
// A full disk.

TEST(FullDiskTest, UserExtractionFailsSilentlyAndLeavesAPrefixOrNothing) {
    const std::string package = RandomPackage();
    {
        Station machine;
        const ProcessResult run = machine.Run("sp_random", {"/e", "/dev/full"});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(machine.Boxes().empty());
    }
    // A full disk under an existing file: the file is truncated and the
    // write stops where the disk did. What is there is the start of the
    // package, never the old bytes behind it, and nobody is told otherwise.
    for (const long limit : {512L, 4096L, 65536L + 17}) {
        Station machine;
        WriteFileBytes(machine.dir / "out.msp", std::string(2 * package.size(), 'o'));
        const ProcessResult run = machine.Run("sp_random", {"/e", "out.msp"}, limit);
        EXPECT_EQ(run.exitCode, 0) << limit;
        EXPECT_EQ(run.err, "") << limit;
        EXPECT_TRUE(machine.Boxes().empty()) << limit;
        const std::string left = ReadFileBytes(machine.dir / "out.msp");
        EXPECT_EQ(left.size(), static_cast<std::size_t>(limit));
        EXPECT_TRUE(IsPrefixOf(left, package)) << limit;
    }
}

TEST(FullDiskTest, PatchListExportNeverLosesWhatTheListHeld) {
    {
        Station machine;
        const ProcessResult run = machine.Run("sp_standard", {"/p", "/dev/full"});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(machine.Boxes().empty());
    }
    // The disk fills inside the first separator, inside the first text,
    // between the texts and inside the last line end: the earlier exports
    // stay whole and what follows them is the start of the new blocks.
    const std::string earlier = "earlier export\r\n*****\r\nkept text\r\n";
    const std::string whole = earlier + Blocks();
    for (const std::size_t cut :
         {earlier.size(), earlier.size() + 3, earlier.size() + 40,
          earlier.size() + 9 + Text("first.txt").size(), whole.size() - 1}) {
        Station machine;
        WriteFileBytes(machine.dir / "list.txt", earlier);
        const ProcessResult run =
            machine.Run("sp_standard", {"/p", "list.txt"}, static_cast<long>(cut));
        EXPECT_EQ(run.exitCode, 0) << cut;
        EXPECT_FALSE(ShowsSuccess(machine.Boxes())) << cut;
        EXPECT_EQ(ReadFileBytes(machine.dir / "list.txt"), whole.substr(0, cut)) << cut;
    }
}

TEST(FullDiskTest, FullTemporaryDiskFailsTheApplyPassWith300) {
    // Limits below the package's size; the box and its log line stay under them.
    for (const long limit : {2048L, 4096L}) {
        Station machine;
        WriteFileBytes(machine.products, kProducts);
        const ProcessResult run = machine.Run("sp_standard", {}, limit);
        EXPECT_EQ(run.exitCode, 0) << limit;
        const auto boxes = machine.Boxes();
        ASSERT_EQ(boxes.size(), 1u) << limit << run.err;
        EXPECT_GT(FailureCode(boxes[0]), 0) << boxes[0];
        EXPECT_TRUE(machine.ConfigureCalls().empty()) << limit;
        EXPECT_EQ(ReadFileBytes(machine.products), kProducts) << limit;

        // "/i" reads its own cut copy and finds nothing in it.
        ::unlink((machine.dir / "boxes.log").c_str());
        EXPECT_EQ(machine.Run("sp_standard", {"/i"}, limit).exitCode, 0);
        EXPECT_EQ(machine.Boxes(), std::vector<std::string>{kEmptyInfoBox}) << limit;
    }
}

// ---------------------------------------------------------------------------
// A temporary directory that cannot take the package. A read-only directory
// does not stop root, so these are the shapes root cannot write through.

struct TemporaryCase {
    std::string name;
    std::function<std::string(const Station&)> make;  // returns the TMP value
};

void PrintTo(const TemporaryCase& c, std::ostream* out) {
    *out << c.name;
}

class TemporaryDirectoryTest : public testing::TestWithParam<TemporaryCase> {};

TEST_P(TemporaryDirectoryTest, ApplyShows300AndInstallsNothingInfoShowsEmptyValues) {
    Station machine;
    machine.tmpVariable = GetParam().make(machine);
    WriteFileBytes(machine.products, kProducts);
    const auto before = machine.dir.List();

    const ProcessResult apply = machine.Run("sp_standard", {});
    EXPECT_EQ(apply.exitCode, 0);
    auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u) << apply.err;
    EXPECT_GT(FailureCode(boxes[0]), 0) << boxes[0];
    EXPECT_TRUE(machine.ConfigureCalls().empty());
    EXPECT_EQ(ReadFileBytes(machine.products), kProducts);

    ::unlink((machine.dir / "boxes.log").c_str());
    const ProcessResult info = machine.Run("sp_standard", {"/i"});
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_EQ(machine.Boxes(), std::vector<std::string>{kEmptyInfoBox});

    // Nothing appeared where the package could not go, and the file that
    // stood in the way is as it was.
    ::unlink((machine.dir / "boxes.log").c_str());
    EXPECT_EQ(machine.dir.List(), before);
    if (FileExists(machine.dir / "tmpfile")) {
        EXPECT_EQ(ReadFileBytes(machine.dir / "tmpfile"), "not a directory");
    }
    EXPECT_TRUE(std::filesystem::is_empty(machine.tmp));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TemporaryDirectoryTest,
    testing::Values(TemporaryCase{"RegularFile",
                                  [](const Station& m) {
                                      WriteFileBytes(m.dir / "tmpfile", "not a directory");
                                      return m.dir / "tmpfile";
                                  }},
                    TemporaryCase{"MissingDirectory",
                                  [](const Station& m) { return m.dir / "gone"; }},
                    TemporaryCase{"PathThroughAFile", [](const Station& m) {
                                      WriteFileBytes(m.dir / "tmpfile", "not a directory");
                                      return m.dir / "tmpfile/sub";
                                  }}));

// ---------------------------------------------------------------------------
// The products file: broken from the start, missing, or changed while the
// pass runs. It is never rewritten by a pass that cannot trust it.

TEST(ProductsFileFaultTest, MissingFileMeansNothingInstalledAndIsNotCreated) {
    Station machine;
    const ProcessResult run = machine.Run("sp_standard", {});
    EXPECT_EQ(run.exitCode, 0);
    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find(kNotFoundPart), std::string::npos) << boxes[0];
    EXPECT_NE(run.err.find("products file"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(machine.products));
    EXPECT_TRUE(machine.ConfigureCalls().empty());
}

struct MalformedCase {
    std::string name;
    std::string bytes;
};

void PrintTo(const MalformedCase& c, std::ostream* out) {
    *out << c.name;
}

class MalformedProductsTest : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedProductsTest, Shows307SaysWhyAndLeavesTheFileAlone) {
    Station machine;
    WriteFileBytes(machine.products, GetParam().bytes);
    const ProcessResult run = machine.Run("sp_standard", {});
    EXPECT_EQ(run.exitCode, 0);
    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u) << run.err;
    EXPECT_NE(boxes[0].find(kNotFoundPart), std::string::npos) << boxes[0];
    EXPECT_NE(run.err.find("products file line "), std::string::npos) << run.err;
    EXPECT_TRUE(machine.ConfigureCalls().empty());
    EXPECT_EQ(ReadFileBytes(machine.products), GetParam().bytes);
    for (const std::string& name : machine.dir.List())
        EXPECT_FALSE(name.starts_with("products.ini.new")) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, MalformedProductsTest,
    testing::Values(
        // Cut off inside the section line.
        MalformedCase{"TruncatedInTheSection", kProducts.substr(0, 20)},
        // Cut off inside a key, after a whole first line.
        MalformedCase{"TruncatedInAKey", kProducts.substr(0, kProducts.find("ProductName") + 7)},
        MalformedCase{"TruncatedInANumber", "[" + kA + "]\nState=5\nConfigureResult=-\n"},
        MalformedCase{"KeyBeforeAnySection", "VersionString=4.1.7.3\n" + kProducts},
        MalformedCase{"ProductTwice", kProducts + kProducts},
        MalformedCase{"NulByte", kProducts + std::string("Extra=a\0b\n", 10)},
        MalformedCase{"InvalidUtf8", kProducts + "ProductLanguage=\xC3\x28\n"},
        MalformedCase{"CarriageReturnInsideALine", kProducts + "Note=a\rb\n"},
        MalformedCase{"StateNotANumber", "[" + kA + "]\nState=five\nVersionString=4.1.7.3\n"}));

// Holds the pass at its first installer-log write, which comes after the
// products were found and before the installer is asked to configure: the
// log is a FIFO whose buffer the test has filled, so that write waits until
// the test drains it. While the pass waits, `change` acts on the machine.
struct Held {
    int exitCode = -1;
    std::string err;
    std::vector<std::string> installerLines;
};

Held RunHeldBeforeTheInstaller(Station& machine, const std::function<void()>& change) {
    Held held;
    if (::mkfifo(machine.installerLog.c_str(), 0644) != 0) {
        ADD_FAILURE() << "mkfifo failed";
        return held;
    }
    const int fifo = ::open(machine.installerLog.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fifo < 0) {
        ADD_FAILURE() << "cannot open the FIFO";
        return held;
    }
    ::fcntl(fifo, F_SETPIPE_SZ, 4096);
    const std::string filler(4096, '.');
    while (::write(fifo, filler.data(), filler.size()) > 0) {
    }
    while (::write(fifo, ".", 1) > 0) {
    }

    auto child = machine.Start("sp_standard", {});
    // The pass has reached the log once it holds the FIFO open for writing.
    // Until its exec, the child also holds a copy of this process's own
    // read-write descriptor, which must not count.
    bool reached = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const std::string proc = "/proc/" + std::to_string(child->pid());
    while (!reached && !child->Ended() && std::chrono::steady_clock::now() < deadline) {
        std::error_code ignored;
        for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", ignored)) {
            if (std::filesystem::read_symlink(fd.path(), ignored) != machine.installerLog) continue;
            std::string info;
            try {
                info = ReadFileBytes(proc + "/fdinfo/" + fd.path().filename().string());
            } catch (const std::runtime_error&) {
                continue;
            }
            const std::size_t flags = info.find("flags:");
            if (flags != std::string::npos &&
                (std::stoul(info.substr(flags + 6), nullptr, 8) & O_ACCMODE) == O_WRONLY)
                reached = true;
        }
        if (!reached) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(reached) << "the pass never reached the installer";
    if (reached) change();

    // Drain the filler and collect what the pass writes until it ends.
    std::string log;
    char buffer[4096];
    for (bool ended = false;;) {
        const ssize_t got = ::read(fifo, buffer, sizeof buffer);
        if (got > 0) {
            log.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (ended) break;
        ended = child->Ended();
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::close(fifo);
    held.exitCode = child->Wait();
    held.err = child->Err();
    log.erase(0, log.find_first_not_of('.'));
    for (std::size_t start = 0; start < log.size();) {
        const std::size_t end = log.find('\n', start);
        held.installerLines.push_back(log.substr(start, end - start));
        start = end == std::string::npos ? log.size() : end + 1;
    }
    return held;
}

struct ChangeCase {
    std::string name;
    // Acts on the products file; returns what it must hold afterwards
    // (nullopt: it must not exist).
    std::function<std::optional<std::string>(const std::string&)> change;
};

void PrintTo(const ChangeCase& c, std::ostream* out) {
    *out << c.name;
}

class ProductsChangeTest : public testing::TestWithParam<ChangeCase> {};

TEST_P(ProductsChangeTest, InstallerCallFailsWith300AndTheFileIsNotWritten) {
    Station machine;
    WriteFileBytes(machine.products, kProducts);
    std::optional<std::string> expected;
    const Held run =
        RunHeldBeforeTheInstaller(machine, [&] { expected = GetParam().change(machine.products); });
    EXPECT_EQ(run.exitCode, 0);

    ASSERT_EQ(run.installerLines.size(), 3u) << run.err;
    const std::string& call = run.installerLines[1];
    ASSERT_TRUE(call.starts_with("MsiConfigureProductExW\t" + kA + "\t")) << call;
    const long result = std::stol(call.substr(call.rfind('\t') + 1));
    EXPECT_NE(result, 0) << call;

    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(FailureCode(boxes[0]), result) << boxes[0];

    if (expected) {
        EXPECT_EQ(ReadFileBytes(machine.products), *expected);
    } else {
        EXPECT_FALSE(FileExists(machine.products));
    }
    for (const std::string& name : machine.dir.List())
        EXPECT_FALSE(name.starts_with("products.ini.new")) << name;
    // The pass ran to its end and took its package away.
    EXPECT_EQ(std::filesystem::is_empty(machine.tmp), true);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ProductsChangeTest,
    testing::Values(ChangeCase{"Removed",
                               [](const std::string& path) -> std::optional<std::string> {
                                   ::unlink(path.c_str());
                                   return std::nullopt;
                               }},
                    ChangeCase{"TruncatedMidLine",
                               [](const std::string& path) -> std::optional<std::string> {
                                   const std::string cut =
                                       kProducts.substr(0, kProducts.find("Name") + 2);
                                   WriteFileBytes(path, cut);
                                   return cut;
                               }},
                    ChangeCase{"ProductUninstalled",
                               [](const std::string& path) -> std::optional<std::string> {
                                   const std::string other =
                                       "[{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B49}]\nState=5\n";
                                   WriteFileBytes(path, other);
                                   return other;
                               }}));

// ---------------------------------------------------------------------------
// A damaged package: half of the standard package.

TEST(DamagedPackageTest, InfoShowsEmptyValuesApplyShows300) {
    Station machine;
    WriteFileBytes(machine.products, kProducts);
    const ProcessResult info = machine.Run("sp_truncated", {"/i"});
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_EQ(machine.Boxes(), std::vector<std::string>{kEmptyInfoBox});

    ::unlink((machine.dir / "boxes.log").c_str());
    const ProcessResult apply = machine.Run("sp_truncated", {});
    EXPECT_EQ(apply.exitCode, 0);
    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u) << apply.err;
    EXPECT_GT(FailureCode(boxes[0]), 0) << boxes[0];
    EXPECT_TRUE(machine.ConfigureCalls().empty());
    EXPECT_EQ(ReadFileBytes(machine.products), kProducts);
}

// ---------------------------------------------------------------------------
// Two service packs at once in one temporary directory. Each must take a
// name of its own and write the whole package into it; were one to reuse
// the other's name, it would read (or hand the installer) a file still
// being written, or one the other deletes.

constexpr int kRounds = 20;

TEST(ConcurrentRunsTest, InfoRunsEachKeepTheirOwnWholePackage) {
    Station machine;
    const std::string package = StandardPackage();
    for (int round = 0; round < kRounds; ++round) {
        auto first = machine.Start("sp_standard", {"/i"});
        auto second = machine.Start("sp_standard", {"/i"});
        EXPECT_EQ(first->Wait(), 0);
        EXPECT_EQ(second->Wait(), 0);
    }
    EXPECT_EQ(machine.Boxes(), std::vector<std::string>(2 * kRounds, kStandardInfoBox));
    std::set<std::string> expected;
    for (int n = 2; n < 2 + 2 * kRounds; ++n) expected.insert("MSP" + std::to_string(n));
    const auto names = std::filesystem::directory_iterator(machine.tmp);
    std::set<std::string> found;
    for (const auto& entry : names) {
        found.insert(entry.path().filename().string());
        EXPECT_EQ(ReadFileBytes(entry.path().string()), package) << entry.path();
    }
    EXPECT_EQ(found, expected);
}

TEST(ConcurrentRunsTest, LargeExtractionsDoNotShareAFile) {
    Station machine;
    const std::string package = RandomPackage();
    for (int round = 0; round < kRounds; ++round) {
        auto first = machine.Start("sp_random", {"/e"});
        auto second = machine.Start("sp_random", {"/e"});
        EXPECT_EQ(first->Wait(), 0);
        EXPECT_EQ(second->Wait(), 0);
        const std::string a = machine.tmp + "/MSP" + std::to_string(2 + 2 * round);
        const std::string b = machine.tmp + "/MSP" + std::to_string(3 + 2 * round);
        ASSERT_TRUE(FileExists(a) && FileExists(b)) << round;
        EXPECT_TRUE(ReadFileBytes(a) == package) << a;
        EXPECT_TRUE(ReadFileBytes(b) == package) << b;
    }
}

TEST(ConcurrentRunsTest, ApplyPassesHandTheInstallerDistinctWholePackages) {
    Station machine;
    for (int round = 0; round < kRounds; ++round) {
        WriteFileBytes(machine.products, kProducts);
        ::unlink(machine.installerLog.c_str());
        ::unlink((machine.dir / "boxes.log").c_str());
        auto first = machine.Start("sp_standard", {});
        auto second = machine.Start("sp_standard", {});
        EXPECT_EQ(first->Wait(), 0);
        EXPECT_EQ(second->Wait(), 0);

        // Whichever came second may find the product already patched.
        const auto calls = machine.ConfigureCalls();
        ASSERT_FALSE(calls.empty()) << round;
        std::set<std::string> packages;
        for (const std::string& call : calls) {
            EXPECT_TRUE(call.ends_with("\t0")) << call;
            packages.insert(call.substr(call.find("PATCH=")));
        }
        EXPECT_EQ(packages.size(), calls.size()) << round;
        const auto boxes = machine.Boxes();
        EXPECT_EQ(boxes.size(), 2u) << round;
        for (const std::string& box : boxes) EXPECT_EQ(FailureCode(box), -1) << box;
        // Every configuration that succeeded is on the record: one pass's
        // save never drops what the other's recorded.
        const std::string after = ReadFileBytes(machine.products);
        EXPECT_NE(after.find("VersionString=4.1.20.0"), std::string::npos);
        const std::size_t patches = after.find("Patches=");
        ASSERT_NE(patches, std::string::npos) << after;
        const std::string record = after.substr(patches, after.find('\n', patches) - patches);
        EXPECT_EQ(static_cast<std::size_t>(std::count(record.begin(), record.end(), ';')) + 1,
                  calls.size())
            << record;
        EXPECT_TRUE(std::filesystem::is_empty(machine.tmp)) << round;
    }
}

// ---------------------------------------------------------------------------
// Targets the user names that cannot be written: a path through a file.

TEST(UnwritableTargetTest, ExtractionFailsSilentlyPatchListShows310) {
    Station machine;
    WriteFileBytes(machine.dir / "file.txt", "a file");
    const ProcessResult extract = machine.Run("sp_standard", {"/e", "file.txt/out.msp"});
    EXPECT_EQ(extract.exitCode, 0);
    EXPECT_EQ(extract.err, "");
    EXPECT_TRUE(machine.Boxes().empty());

    const ProcessResult list = machine.Run("sp_standard", {"/p", "file.txt/list.txt"});
    EXPECT_EQ(list.exitCode, 0);
    const auto boxes = machine.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].starts_with(kFailedBox + "You must supply a patch list")) << boxes[0];

    EXPECT_EQ(ReadFileBytes(machine.dir / "file.txt"), "a file");
    EXPECT_EQ(machine.dir.List(), (std::vector<std::string>{"boxes.log", "file.txt", "tmp"}));
}

}  // namespace
}  // namespace sp::test
