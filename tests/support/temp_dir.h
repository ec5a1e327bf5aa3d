// A fresh directory per test, removed afterwards, and small file helpers.
#pragma once

#include <string>
#include <string_view>

namespace zktest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(std::string_view name) const;

private:
    std::string path_;
};

// Writes bytes to a file (replacing it).
void WriteFile(const std::string& path, std::string_view bytes);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

}  // namespace zktest
