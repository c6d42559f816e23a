#pragma once
// For end-to-end tests, in both lanes: a directory of the test's own under /tmp (with a machine
// directory for the simulated host, unused under Wine), removed afterwards, and the Windows form
// of paths below it.

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarvel::testing {

class E2eDirectory : public ::testing::Test {
  protected:
    // `kind` names the suite in the directory's name; `subdirectories` are made below it.
    E2eDirectory(std::string kind, std::initializer_list<const char*> subdirectories)
        : kind_(std::move(kind)), subdirectories_(subdirectories) {}

    void SetUp() override {
        dir_ = std::filesystem::path("/tmp") /
               ("quarvel-e2e-" + kind_ + "-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "machine");
        for (const char* subdirectory : subdirectories_)
            std::filesystem::create_directories(dir_ / subdirectory);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // The Windows form of a path under the test directory: the host's root is Z: in both lanes.
    std::string windows(const std::string& relative) const {
        std::string text = "Z:" + (dir_ / relative).string();
        for (auto& c : text)
            if (c == '/')
                c = '\\';
        return text;
    }

    std::string contents(const std::string& relative) const {
        std::ifstream in(dir_ / relative, std::ios::binary);
        if (!in)
            return "<missing>";
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    void put(const std::string& relative, std::string_view contents) const {
        std::ofstream(dir_ / relative, std::ios::binary) << contents;
    }

    std::filesystem::path dir_;

  private:
    std::string kind_;
    std::vector<const char*> subdirectories_;
};

}  // namespace quarvel::testing
