// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the test ends. Portable: the Windows build runs
// the same tests under Wine, where there is no mkdtemp.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace velarix::test {

class TempDir {
public:
    // `stem` names the test's area in the folder's name, e.g. "velarix-avi".
    explicit TempDir(const std::string& stem) {
        namespace fs = std::filesystem;
        std::random_device random;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate = base / (stem + "-" + std::to_string(random()));
            // create_directory is false for a name that exists: try another.
            if (fs::create_directory(candidate, ec)) path_ = candidate;
        }
        EXPECT_FALSE(path_.empty()) << "no temporary folder under " << base;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }

    const std::filesystem::path& Path() const { return path_; }
    std::string String() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

}  // namespace velarix::test
