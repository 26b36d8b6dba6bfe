// Running a program as a user would, and reading back what it left behind.
#pragma once

#include <string>
#include <vector>

namespace sp::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when the process did not exit normally
    std::string out, err;
};

// Runs `program` with `arguments` in `workingDirectory` (empty: the current
// one). `environment` entries "NAME=value" are added to (or replace) this
// process's environment; "NAME" alone removes the variable. Kills the program
// after `timeoutSeconds`.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment = {},
                         const std::string& workingDirectory = {}, int timeoutSeconds = 60);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);  // without following a final link

// A new empty directory under the test's temporary area, removed with its
// contents when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The names in the directory, sorted.
    std::vector<std::string> List() const;

  private:
    std::string path_;
};

}  // namespace sp::test
