// Security descriptor strings as the pipe channel and the firewall rule write them, converted by
// the platform: the layout that every reader of the descriptor relies on.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/unique_resource.h"
#include "platform/wide_text.h"
#include "platform/win32.h"

namespace quarvel {
namespace {

struct Converted {
    LocalPtr<void> descriptor;
    ULONG size = 0;
};

Converted convert(std::string_view text) {
    Converted converted;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const WideString wide = to_wide(text);
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(wide.c_str(), SDDL_REVISION_1,
                                                             &descriptor, &converted.size))
        converted.descriptor.reset(descriptor);
    return converted;
}

std::string sid_text(PSID sid) {
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return "<invalid>";
    LocalPtr<WCHAR> owned(text);
    return narrow_lossy(text);
}

struct Ace {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::string sid;
};

std::vector<Ace> dacl_entries(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = nullptr;
    EXPECT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    std::vector<Ace> entries;
    if (dacl == nullptr)
        return entries;
    EXPECT_EQ(dacl->AclRevision, ACL_REVISION);
    auto* at = reinterpret_cast<BYTE*>(dacl) + sizeof(ACL);
    for (WORD k = 0; k < dacl->AceCount; ++k) {
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(at);
        entries.push_back(
            {ace->Header.AceType, ace->Header.AceFlags, ace->Mask, sid_text(&ace->SidStart)});
        at += ace->Header.AceSize;
    }
    EXPECT_EQ(at, reinterpret_cast<BYTE*>(dacl) + dacl->AclSize);
    return entries;
}

WORD control_of(PSECURITY_DESCRIPTOR descriptor) {
    WORD control = 0;
    std::memcpy(&control, static_cast<BYTE*>(descriptor) + 2, sizeof(control));
    return control;
}

TEST(SecurityDescriptorString, ProtectedPipeDaclHasExactlyThreeGenericAllGrants) {
    const auto converted = convert(
        "D:P(A;;GA;;;S-1-5-21-1004336348-1177238915-682003330-1001)"
        "(A;;GA;;;S-1-5-21-1004336348-1177238915-682003330-1002)(A;;GA;;;SY)");
    ASSERT_TRUE(converted.descriptor);
    EXPECT_EQ(static_cast<BYTE*>(converted.descriptor.get())[0], SECURITY_DESCRIPTOR_REVISION);
    EXPECT_EQ(control_of(converted.descriptor.get()),
              SE_SELF_RELATIVE | SE_DACL_PROTECTED | SE_DACL_PRESENT);
    // Header (20) + ACL header (8) + two ACEs with 5 sub-authorities (8 + 28) + one with 1 (8 +
    // 12).
    EXPECT_EQ(converted.size, 20u + 8u + 2u * 36u + 20u);
    const auto entries = dacl_entries(converted.descriptor.get());
    ASSERT_EQ(entries.size(), 3u);
    const char* sids[] = {"S-1-5-21-1004336348-1177238915-682003330-1001",
                          "S-1-5-21-1004336348-1177238915-682003330-1002", "S-1-5-18"};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(entries[k].type, ACCESS_ALLOWED_ACE_TYPE) << k;
        EXPECT_EQ(entries[k].flags, 0) << k;
        EXPECT_EQ(entries[k].mask, static_cast<DWORD>(GENERIC_ALL)) << k;
        EXPECT_EQ(entries[k].sid, sids[k]) << k;
    }
}

TEST(SecurityDescriptorString, CodesFlagsAndAliasesBecomeTheirNumbers) {
    const auto converted =
        convert("O:LSD:AI(A;OICI;CC;;;S-1-5-21-1-2-3-1002)(D;CIIO;0x1200a9;;;WD)(A;;FRFW;;;BU)");
    ASSERT_TRUE(converted.descriptor);
    EXPECT_EQ(control_of(converted.descriptor.get()),
              SE_SELF_RELATIVE | SE_DACL_AUTO_INHERITED | SE_DACL_PRESENT);
    const auto entries = dacl_entries(converted.descriptor.get());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].type, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(entries[0].flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(entries[0].mask, 0x1u);
    EXPECT_EQ(entries[0].sid, "S-1-5-21-1-2-3-1002");
    EXPECT_EQ(entries[1].type, ACCESS_DENIED_ACE_TYPE);
    EXPECT_EQ(entries[1].flags, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE);
    EXPECT_EQ(entries[1].mask, 0x1200a9u);
    EXPECT_EQ(entries[1].sid, "S-1-1-0");
    EXPECT_EQ(entries[2].mask, 0x12019fu);  // FILE_GENERIC_READ | FILE_GENERIC_WRITE
    EXPECT_EQ(entries[2].sid, "S-1-5-32-545");
}

TEST(SecurityDescriptorString, EmptyDaclIsPresentWithNoEntries) {
    const auto converted = convert("D:P");
    ASSERT_TRUE(converted.descriptor);
    EXPECT_TRUE(dacl_entries(converted.descriptor.get()).empty());
}

TEST(SecurityDescriptorString, MalformedTextIsRefusedAndAllocatesNothing) {
    for (const char* text : {"D:P(X;;GA;;;SY)", "D:P(A;;GA;;;S-1-x)", "D:P(A;;GA;;SY)",
                             "D:P(A;;QQ;;;SY)", "D:P(A;;GA;;;SY"}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const WideString wide = to_wide(text);
        SetLastError(0);
        EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            wide.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            << text;
        EXPECT_NE(GetLastError(), 0u) << text;
        if (descriptor != nullptr)
            LocalFree(descriptor);
    }
}

TEST(SecurityDescriptorString, UnknownRevisionIsRefused) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const WideString wide = to_wide("D:P(A;;GA;;;SY)");
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(wide.c_str(), 2, &descriptor,
                                                                      nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
}

}  // namespace
}  // namespace quarvel
