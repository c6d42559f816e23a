#pragma once
// A fresh simulated machine for each test, and a check at its end that the test gave back every
// handle and LocalAlloc block it took, with the faults it armed cleared for the next test.

#include <gtest/gtest.h>

#include <winsim/testing.h>

#include <filesystem>
#include <string>

#include "support/host_process.h"

namespace quarvel::testing {

class LeakCheckedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine_ = use_fresh_machine();
        count_resources_from_now();
    }
    void TearDown() override {
        winsim::clear_faults();
        EXPECT_EQ(winsim::open_handle_count(), handles_);
        EXPECT_EQ(winsim::outstanding_local_allocations(), allocations_);
        std::error_code ignored;
        std::filesystem::remove_all(machine_, ignored);
    }

    // For fixtures whose own set-up holds resources for the whole test.
    void count_resources_from_now() {
        handles_ = winsim::open_handle_count();
        allocations_ = winsim::outstanding_local_allocations();
    }

    std::string machine_;
    std::size_t handles_ = 0;
    std::size_t allocations_ = 0;
};

}  // namespace quarvel::testing
