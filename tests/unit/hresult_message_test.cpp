// The message of a failed COM call: the thread's error object first, then the system's text,
// then the number. The same checks run against the simulated host and under Wine, whose texts
// differ from Windows' (the host lane's failure tables check Windows' texts).

#include <gtest/gtest.h>

#include <string>

#include "platform/com_resource.h"
#include "platform/wide_text.h"
#include "windows/setup/com_apartment.h"
#include "windows/setup/hresult_message.h"

namespace quarvel {
namespace {

constexpr IID kErrorInfoInterface{
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005);

// Leaves an error object with this description for the thread, as a failing call would.
void leave_error_description(const char* description) {
    ComPtr<ICreateErrorInfo> created;
    ASSERT_EQ(CreateErrorInfo(created.put()), S_OK);
    WideString text = to_wide(description);
    ASSERT_EQ(created->SetDescription(text.data()), S_OK);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(created->QueryInterface(kErrorInfoInterface, info.put_void()), S_OK);
    ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);
}

TEST(HresultMessage, SystemTextWithoutItsLineBreakThenTheNumberInUpperCaseHexadecimal) {
    const std::string message = hresult_message(kAccessDenied);
    const std::string number = " (0x80070005)";
    ASSERT_GT(message.size(), number.size());
    EXPECT_EQ(message.substr(message.size() - number.size()), number);
    const char last_of_text = message[message.size() - number.size() - 1];
    EXPECT_TRUE(last_of_text != ' ' && last_of_text != '\n' && last_of_text != '\r') << message;
}

TEST(HresultMessage, NumberWithoutAnyTextStandsAlone) {
    EXPECT_EQ(hresult_message(static_cast<HRESULT>(0x8FFF1234)), "0x8FFF1234");
}

TEST(HresultMessage, ErrorObjectOfTheThreadComesFirstAndIsUsedOnce) {
    auto apartment = ComApartment::join_single_threaded();
    ASSERT_TRUE(apartment);
    const std::string system = hresult_message(kAccessDenied);
    leave_error_description("The rule store is locked by policy.");
    EXPECT_EQ(hresult_message(kAccessDenied), "The rule store is locked by policy. (0x80070005)");
    EXPECT_EQ(hresult_message(kAccessDenied), system);
}

TEST(HresultMessage, EmptyDescriptionCountsAsNone) {
    auto apartment = ComApartment::join_single_threaded();
    ASSERT_TRUE(apartment);
    const std::string system = hresult_message(kAccessDenied);
    leave_error_description("");
    EXPECT_EQ(hresult_message(kAccessDenied), system);
}

}  // namespace
}  // namespace quarvel
