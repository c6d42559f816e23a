#pragma once
// For host-lane tests of the program's file work: a fresh simulated machine and a host
// directory to work in, both removed afterwards, and the current directory restored.

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <winsim/testing.h>

#include "platform/wide_text.h"

namespace quarvel::testing {

class HostScratch : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("quarvel-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "machine");
        std::filesystem::create_directories(root_ / "work");
        if (const char* machine = std::getenv("WINSIM_MACHINE"))
            saved_machine_ = machine;
        ::setenv("WINSIM_MACHINE", (root_ / "machine").c_str(), 1);
        saved_cwd_ = std::filesystem::current_path();
    }
    void TearDown() override {
        winsim::clear_faults();
        std::filesystem::current_path(saved_cwd_);
        if (saved_machine_)
            ::setenv("WINSIM_MACHINE", saved_machine_->c_str(), 1);
        else
            ::unsetenv("WINSIM_MACHINE");
        std::filesystem::remove_all(root_);
    }

    // The work directory, or a path inside it, on the host.
    std::filesystem::path work(const std::string& relative = "") const {
        return relative.empty() ? root_ / "work" : root_ / "work" / relative;
    }

    // The Windows form (drive Z:) of a host path, as the program is given it.
    static WideString windows_form(const std::filesystem::path& host) {
        std::string text = "Z:" + host.string();
        for (auto& c : text)
            if (c == '/')
                c = '\\';
        return to_wide(text);
    }

    static std::string host_contents(const std::filesystem::path& host) {
        std::ifstream in(host, std::ios::binary);
        if (!in)
            return "<missing>";
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static void put_host_file(const std::filesystem::path& host, const std::string& contents) {
        std::ofstream(host, std::ios::binary) << contents;
    }

    static bool is_read_only(const std::filesystem::path& host) {
        return (std::filesystem::status(host).permissions() &
                std::filesystem::perms::owner_write) == std::filesystem::perms::none;
    }

    static void make_read_only(const std::filesystem::path& host) {
        std::filesystem::permissions(host,
                                     std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
    }

    std::filesystem::path root_;
    std::filesystem::path saved_cwd_;
    std::optional<std::string> saved_machine_;
};

}  // namespace quarvel::testing
