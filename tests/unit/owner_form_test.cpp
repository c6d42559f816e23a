// What a SID's own form says of an owner, before Windows is asked: the keepers that hold the
// state directory anyway, the identities that are never user accounts, and the account domains'
// SIDs that only a lookup can judge.

#include <gtest/gtest.h>

#include "windows/security/sid_conversion.h"
#include "windows/setup/setup_owner.h"

namespace quarvel {
namespace {

TEST(OwnerForm, KeepersIdentitiesAndAccountsAreToldApartByTheirForm) {
    const struct {
        const char* sid;
        OwnerForm form;
    } rows[] = {
        {"S-1-5-18", OwnerForm::keeper},
        {"SY", OwnerForm::keeper},
        {"S-1-5-32-544", OwnerForm::keeper},
        {"BA", OwnerForm::keeper},
        // Universal identities and the NT authority's well-known ones.
        {"S-1-0-0", OwnerForm::identity},
        {"S-1-1-0", OwnerForm::identity},
        {"WD", OwnerForm::identity},
        {"S-1-2-0", OwnerForm::identity},
        {"S-1-2-1", OwnerForm::identity},
        {"S-1-3-0", OwnerForm::identity},
        {"S-1-5", OwnerForm::identity},
        {"S-1-5-4", OwnerForm::identity},
        {"S-1-5-11", OwnerForm::identity},
        {"AU", OwnerForm::identity},
        {"S-1-5-18-1", OwnerForm::identity},
        {"S-1-5-19", OwnerForm::identity},
        {"S-1-5-20", OwnerForm::identity},
        {"S-1-5-113", OwnerForm::identity},
        {"S-1-5-64-10", OwnerForm::identity},
        // Logon sessions, services, virtual accounts.
        {"S-1-5-5-0-70001", OwnerForm::identity},
        {"S-1-5-80-0", OwnerForm::identity},
        {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", OwnerForm::identity},
        {"S-1-5-82-1-2-3-4-5", OwnerForm::identity},
        // Built-in aliases other than Administrators.
        {"S-1-5-32", OwnerForm::identity},
        {"S-1-5-32-545", OwnerForm::identity},
        {"BU", OwnerForm::identity},
        {"S-1-5-32-546", OwnerForm::identity},
        {"S-1-5-32-544-1", OwnerForm::identity},
        // App containers, capabilities, integrity labels, asserted identities.
        {"S-1-15-2-1", OwnerForm::identity},
        {"S-1-15-3-1024-1065365936-1281604716-3511738428-1654721687-432734479-3232135806-"
         "4053264122-3456934681",
         OwnerForm::identity},
        {"S-1-16-8192", OwnerForm::identity},
        {"S-1-18-1", OwnerForm::identity},
        // An account domain itself, and its reserved group RIDs.
        {"S-1-5-21", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330-512", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330-513", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330-520", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330-553", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330-498", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330-999", OwnerForm::identity},
        // Accounts, and what only Windows can place.
        {"S-1-5-21-1004336348-1177238915-682003330-500", OwnerForm::account},
        {"S-1-5-21-1004336348-1177238915-682003330-504", OwnerForm::account},
        {"S-1-5-21-1004336348-1177238915-682003330-1000", OwnerForm::account},
        {"S-1-5-21-1004336348-1177238915-682003330-4294967295", OwnerForm::account},
        {"s-1-0x000000000005-21-1004336348-1177238915-682003330-1001", OwnerForm::account},
        {"S-1-12-1-1-2-3-4", OwnerForm::account},
        {"S-1-11-96-3623454863-58364-18864-2661722203-1597581903-1", OwnerForm::account},
        {"S-1-0x010000000000-1", OwnerForm::account},
    };
    for (const auto& row : rows) {
        auto sid = sid_from_string(row.sid);
        ASSERT_TRUE(sid) << row.sid;
        EXPECT_EQ(owner_form(*sid), row.form) << row.sid;
    }
}

}  // namespace
}  // namespace quarvel
