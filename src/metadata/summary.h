// Reading what a patch package says about itself: the products it targets
// (summary property 7) and the versions it moves between (property 5).
#pragma once

#include "platform/host.h"
#include "platform/installer.h"

namespace sp {

// Owns one summary-information handle and releases it exactly once.
class PatchSummaryHandle {
  public:
    PatchSummaryHandle() = default;
    explicit PatchSummaryHandle(installer::MSIHANDLE handle) : handle_(handle) {}
    ~PatchSummaryHandle() { Reset(); }
    PatchSummaryHandle(PatchSummaryHandle&& other) noexcept : handle_(other.Release()) {}
    PatchSummaryHandle& operator=(PatchSummaryHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.Release();
        }
        return *this;
    }
    PatchSummaryHandle(const PatchSummaryHandle&) = delete;
    PatchSummaryHandle& operator=(const PatchSummaryHandle&) = delete;

    installer::MSIHANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    installer::MSIHANDLE Release() {
        const installer::MSIHANDLE handle = handle_;
        handle_ = 0;
        return handle;
    }
    void Reset() {
        if (handle_ != 0) installer::MsiCloseHandle(Release());
    }

  private:
    installer::MSIHANDLE handle_ = 0;
};

// The summary information of the package at `packagePath` (made a full path
// first), or an empty holder when it cannot be read.
PatchSummaryHandle OpenPatchSummary(WideString packagePath);

// Property 7 unchanged into `codes`; `codes` is untouched on failure.
bool ReadTargetProductCodes(const WideString& packagePath, WideString& codes);

// Property 5 split at its first ";": the upgrade version before it, the
// target versions after it. Fails with last-error 4316 when there is no ";"
// or it comes first; the outputs are untouched on any failure.
bool ReadPatchVersions(const WideString& packagePath, WideString& upgradeVersion,
                       WideString& targetVersions);

}  // namespace sp
