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
        {"BA", OwnerForm::keeper},
        // Universal and NT well-known identities, built-in aliases other than Administrators.
        {"WD", OwnerForm::identity},
        {"S-1-3-0", OwnerForm::identity},
        {"AU", OwnerForm::identity},
        {"S-1-5-19", OwnerForm::identity},
        {"S-1-5-18-1", OwnerForm::identity},
        {"BU", OwnerForm::identity},
        {"S-1-5-32-544-1", OwnerForm::identity},
        // Logon sessions, services, app containers, capabilities, labels, asserted identities.
        {"S-1-5-5-0-70001", OwnerForm::identity},
        {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", OwnerForm::identity},
        {"S-1-15-2-1", OwnerForm::identity},
        {"S-1-15-3-1024-1065365936-1281604716-3511738428", OwnerForm::identity},
        {"S-1-16-8192", OwnerForm::identity},
        {"S-1-18-1", OwnerForm::identity},
        // An account domain itself and its reserved group RIDs; its users, and what only
        // Windows can place.
        {"S-1-5-21-1004336348-1177238915-682003330", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330-513", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330-999", OwnerForm::identity},
        {"S-1-5-21-1004336348-1177238915-682003330-500", OwnerForm::account},
        {"S-1-5-21-1004336348-1177238915-682003330-504", OwnerForm::account},
        {"S-1-5-21-1004336348-1177238915-682003330-4294967295", OwnerForm::account},
        {"s-1-0x000000000005-21-1004336348-1177238915-682003330-1001", OwnerForm::account},
        {"S-1-12-1-1-2-3-4", OwnerForm::account},
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
