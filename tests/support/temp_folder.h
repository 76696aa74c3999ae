#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

namespace p2k::test {

// A fresh, empty folder for the running test, removed with all it holds when
// the test ends. Named after the process and the test, so that tests run side
// by side never share one.
class TempFolder {
public:
    TempFolder() : path_(std::filesystem::temp_directory_path() / name())
    {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    static std::string name()
    {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        return "p2kfm-" + std::to_string(::getpid()) + "-" + test->test_suite_name() + "." + test->name();
    }

    std::filesystem::path path_;
};

} // namespace p2k::test
