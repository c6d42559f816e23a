// The self-test's verdicts: which outcome of an attempt passes for each expectation, that a
// check without a model never passes, and the JSON form both ways.

#include <gtest/gtest.h>

#include <stdexcept>

#include "selftest/check_result.h"

namespace quarvel::selftest {
namespace {

const std::vector<std::uint32_t> kNetwork = {10013, 10060, 10061};

TEST(SelfTestCheck, AttemptIsJudgedByWhatConfinementExpects) {
    const struct {
        Expectation expected;
        std::uint32_t error;
        std::vector<std::uint32_t> refusals;
        const char* observed;
        Verdict verdict;
    } rows[] = {
        {Expectation::allowed, 0, {5}, "allowed", Verdict::pass},
        {Expectation::allowed, 5, {5}, "denied (Windows error 5)", Verdict::fail},
        {Expectation::allowed, 2, {5}, "failed otherwise (Windows error 2)", Verdict::fail},
        {Expectation::denied, 5, {5}, "denied (Windows error 5)", Verdict::pass},
        {Expectation::denied, 0, {5}, "allowed", Verdict::fail},
        // A path that is not there proves nothing about confinement.
        {Expectation::denied, 3, {5}, "failed otherwise (Windows error 3)", Verdict::fail},
        {Expectation::denied, 87, {5}, "failed otherwise (Windows error 87)", Verdict::fail},
        {Expectation::denied, 10060, kNetwork, "denied (Windows error 10060)", Verdict::pass},
        {Expectation::denied, 10050, kNetwork, "failed otherwise (Windows error 10050)",
         Verdict::fail},
        {Expectation::observe, 0, {5}, "allowed", Verdict::observed},
        {Expectation::observe, 5, {5}, "denied (Windows error 5)", Verdict::observed},
        {Expectation::observe, 11001, {}, "failed (Windows error 11001)", Verdict::observed},
    };
    for (const auto& row : rows) {
        const auto check = attempt("id", "title", row.expected, row.error, row.refusals);
        EXPECT_EQ(check.observed, row.observed) << row.error;
        EXPECT_EQ(check.verdict, row.verdict) << row.observed;
        EXPECT_EQ(check.expected, row.expected);
    }
}

TEST(SelfTestCheck, WhatCannotBeCheckedNeverPasses) {
    EXPECT_EQ(unavailable("r", "t", Expectation::denied).verdict, Verdict::unavailable);
    EXPECT_EQ(unavailable("r", "t", Expectation::denied).observed, "not available here");
    EXPECT_EQ(not_reached("p", "t", Expectation::denied, "no pid").verdict, Verdict::fail);
    EXPECT_EQ(not_reached("p", "t", Expectation::holds, "no child").verdict, Verdict::fail);
    EXPECT_EQ(not_reached("p", "t", Expectation::observe, "no listener").verdict,
              Verdict::observed);
    EXPECT_EQ(property("t", "t", true, "yes").verdict, Verdict::pass);
    EXPECT_EQ(property("t", "t", false, "no").verdict, Verdict::fail);
    EXPECT_EQ(observation("o", "t", "seen").verdict, Verdict::observed);
    EXPECT_TRUE(is_guard(property("t", "t", true, "")));
    EXPECT_FALSE(is_guard(observation("o", "t", "")));
}

TEST(SelfTestCheck, JsonFormRoundTripsAndRefusesUnknownNames) {
    auto check = attempt("files.cwd.create", "create a file in cwd", Expectation::allowed, 5);
    check.mode = "network disabled";
    const auto json = to_json(check);
    EXPECT_EQ(json["verdict"], "FAIL");
    EXPECT_EQ(json["expected"], "allowed");
    EXPECT_EQ(check_from_json(json), check);
    const auto whole_run = observation("token.logon_sid", "t", "no");
    EXPECT_FALSE(to_json(whole_run).contains("mode"));
    EXPECT_EQ(check_from_json(to_json(whole_run)), whole_run);

    auto unknown = json;
    unknown["verdict"] = "maybe";
    EXPECT_THROW(check_from_json(unknown), std::invalid_argument);
    auto missing = json;
    missing.erase("observed");
    EXPECT_THROW(check_from_json(missing), nlohmann::json::exception);
}

}  // namespace
}  // namespace quarvel::selftest
