// The two setup files: their exact compact shapes, the strict reading rules, and where a file is
// written before it replaces the old one.

#include <gtest/gtest.h>

#include "windows/setup/setup_files.h"

namespace quarvel {
namespace {

constexpr std::string_view kMarker =
    R"({"version":2,"group_sid":"S-1-5-21-1-2-3-1001","online_sid":"S-1-5-21-1-2-3-1002",)"
    R"("offline_sid":"S-1-5-21-1-2-3-1003","owner_sid":"S-1-5-21-1-2-3-500","created_at":1765000000})";
constexpr std::string_view kSecrets =
    R"({"version":2,"online":{"username":"QuarvelSandboxOnline","protected_password":"00ff"},)"
    R"("offline":{"username":"QuarvelSandboxNoNet","protected_password":"a1"}})";

std::string with(std::string_view document, std::string_view from, std::string_view to) {
    std::string text(document);
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

TEST(SetupFiles, BothDocumentsRoundTripInTheirExactCompactShapes) {
    const auto marker = parse_setup_marker(kMarker);
    ASSERT_TRUE(marker) << marker.error();
    EXPECT_EQ(marker->created_at, 1765000000u);
    EXPECT_EQ(marker->owner_sid, "S-1-5-21-1-2-3-500");
    EXPECT_EQ(setup_marker_json(*marker).value(), kMarker);

    const auto secrets = parse_setup_secrets(kSecrets);
    ASSERT_TRUE(secrets) << secrets.error();
    EXPECT_EQ(secrets->online, (AccountSecret{"QuarvelSandboxOnline", "00ff"}));
    EXPECT_EQ(secrets->offline.username, "QuarvelSandboxNoNet");
    EXPECT_EQ(setup_secrets_json(*secrets).value(), kSecrets);
}

TEST(SetupFiles, KeysInAnyOrderAndWhitespaceAroundAreAccepted) {
    const auto marker = parse_setup_marker(
        " \r\n{\"created_at\":18446744073709551615,\"owner_sid\":\"o\",\"offline_sid\":\"f\","
        "\"online_sid\":\"n\",\"group_sid\":\"g\",\"version\":4294967295}\t\n ");
    ASSERT_TRUE(marker) << marker.error();
    EXPECT_EQ(marker->created_at, 18446744073709551615u);
    EXPECT_EQ(marker->version, 4294967295u);
}

TEST(SetupFiles, EveryBrokenRuleMakesTheDocumentInvalidAndSaysWhere) {
    struct Case {
        std::string text;
        const char* description;  // the reader's description contains this
    } markers[] = {
        {with(kMarker, "{", R"({"comment":"x",)"), "unknown field `comment`"},
        {with(kMarker, R"("version":2,)", R"("version":2,"version":2,)"),
         "duplicate field `version`"},
        {with(kMarker, R"("owner_sid":"S-1-5-21-1-2-3-500",)", ""), "missing field `owner_sid`"},
        {with(kMarker, R"("version":2)", R"("version":-1)"), "field `version` must be"},
        {with(kMarker, R"("version":2)", R"("version":2.0)"), "field `version` must be"},
        {with(kMarker, R"("version":2)", R"("version":4294967296)"), "field `version` must be"},
        {with(kMarker, R"("created_at":1765000000)", R"("created_at":18446744073709551616)"),
         "field `created_at` must be"},
        {with(kMarker, R"("created_at":1765000000)", R"("created_at":-5)"),
         "field `created_at` must be"},
        {with(kMarker, R"("group_sid":"S-1-5-21-1-2-3-1001")", R"("group_sid":null)"),
         "field `group_sid` must be a string"},
        {std::string(kMarker) + "{}", "at line 1"},
        {with(kMarker, "S-1-5-21-1-2-3-500", "S-1-5-21-\xff"), "at line 1"},
        {std::string("\xEF\xBB\xBF") + std::string(kMarker), "at line 1"},
    };
    for (const auto& c : markers) {
        const auto parsed = parse_setup_marker(c.text);
        ASSERT_FALSE(parsed) << c.text;
        EXPECT_NE(parsed.error().find(c.description), std::string::npos) << parsed.error();
        EXPECT_NE(parsed.error().find("line"), std::string::npos) << parsed.error();
    }
    const Case secrets[] = {
        {with(kSecrets, R"("username":"QuarvelSandboxNoNet",)",
              R"("username":"QuarvelSandboxNoNet","comment":"",)"),
         "unknown field `comment`"},
        {with(kSecrets, R"(,"protected_password":"a1")", ""), "missing field `protected_password`"},
        {with(kSecrets, R"("version":2,)", ""), "missing field `version`"},
        {with(kSecrets, R"("online":{"username":"QuarvelSandboxOnline","protected_password":"00ff"})",
              R"("online":"x")"),
         "expected an object"},
    };
    for (const auto& c : secrets) {
        const auto parsed = parse_setup_secrets(c.text);
        ASSERT_FALSE(parsed) << c.text;
        EXPECT_NE(parsed.error().find(c.description), std::string::npos) << parsed.error();
    }
}

TEST(SetupFiles, TemporaryNameReplacesTheExtensionWithTheProcessId) {
    const struct {
        const char* target;
        const char* temporary;
    } cases[] = {
        {"C:\\state\\setup.json", "C:\\state\\setup.tmp-4242"},
        {"C:\\state\\credentials.json", "C:\\state\\credentials.tmp-4242"},
        {"C:\\state.d\\settings", "C:\\state.d\\settings.tmp-4242"},
        {"C:\\state\\.hidden", "C:\\state\\.hidden.tmp-4242"},
        {"C:/state/a.b.json", "C:/state/a.b.tmp-4242"},
        {"C:setup.json", "C:setup.tmp-4242"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(narrow_lossy(settings_temporary_path(to_wide(c.target), 4242)), c.temporary);
}

TEST(SetupFiles, StateDirectoryMustHaveAPrefixAndARoot) {
    for (const char* absolute : {"C:\\state", "C:/state", "\\\\server\\share\\state",
                                 "\\\\?\\C:\\state"})
        EXPECT_TRUE(require_absolute_state_dir(to_wide(absolute))) << absolute;
    for (const char* relative : {"\\state", "C:state", "state", ".\\state", ""}) {
        const auto refused = require_absolute_state_dir(to_wide(relative));
        ASSERT_FALSE(refused) << relative;
        EXPECT_EQ(refused.error(),
                  fixed_failure("invalid_request",
                                "Protection settings directory must be an absolute path.", 64))
            << relative;
    }
}

}  // namespace
}  // namespace quarvel
