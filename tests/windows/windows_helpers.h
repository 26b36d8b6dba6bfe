// Shared by the tests of the Windows build under Wine: where the executables
// are, one prepared prefix per test binary, and a private clone of it per test
// so that tests run side by side.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "process.h"
#include "wine_harness.h"

namespace sp::test {

inline const std::string kProductA = "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}";
inline const std::string kProductB = "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B42}";

// The windows-x64 build directory: $SP_WINDOWS_BUILD_DIR, else the configured one.
std::string WindowsBuildDir();
// <build dir>/<name>.exe, e.g. WindowsExe("sp_standard").
std::string WindowsExe(const std::string& name);

// The prefix every clone is made from, prepared once per process.
const WinePrefix& SharedPrefix();

// A test with its own copy of the shared prefix and a working directory.
// Skips when the Windows build or Wine is missing, or fails instead when
// SP_REQUIRE_WINE is on.
class WineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs <build dir>/<name>.exe in work() with the +relay trace.
    WineRun Run(const std::string& name, const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment = {}) const;
    // Installs a product made with make_product.sh into this test's prefix.
    void Install(const std::string& code, const std::string& name, const std::string& version,
                 const std::string& language, const std::string& behaviour = "");

    const WinePrefix& prefix() const { return prefix_; }
    std::string work() const { return *scratch_ / "work"; }
    // The user's temporary folder in the prefix (a Unix path).
    std::string TempFolder() const;

  private:
    std::unique_ptr<TempDir> scratch_;
    WinePrefix prefix_;
    bool cloned_ = false;
};

// The first part of `run`'s trace, for failure messages.
std::string TraceHead(const WineRun& run, std::size_t size = 6000);

}  // namespace sp::test

namespace sp::test {

// The message boxes the program itself showed: those made while no installer
// call was running on the thread (the installer shows boxes of its own).
std::vector<MessageBox> ResultBoxes(const std::string& relay);
// The others: boxes the installer showed while it was called.
std::vector<MessageBox> InstallerBoxes(const std::string& relay);

// The traced calls among `functions`, by name, in the order they began.
std::vector<std::string> CallOrder(const std::string& relay,
                                   const std::vector<std::string>& functions);

// A Windows-1252 text as UTF-8, the way it reaches a box as UTF-16.
std::string Utf8FromWindows1252(const std::string& text);

// Checks a box against its expected caption, flags and body; a body Wine cut
// short in the trace must be a prefix of `body`. When `bodyIsWhole` is false,
// `body` is only the start of what the box must show.
void ExpectBox(const MessageBox& box, const std::string& caption, std::uint32_t flags,
               const std::string& body, bool bodyIsWhole = true);

}  // namespace sp::test
