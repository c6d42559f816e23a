// The simulated host's COM keeps Windows' documented contract: apartment rules, what object
// creation refuses, the firewall rules collection, BSTRs and the thread's error object.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include "platform/com_resource.h"
#include "platform/win32.h"
#include "support/leak_checked_test.h"

namespace quarvel {
namespace {

class SimulatedCom : public testing::LeakCheckedTest {
  protected:
    void TearDown() override {
        while (winsim::com_initialization_depth() > 0)
            CoUninitialize();
        winsim::set_process_token_json(winsim::administrator_token_json(true));
        EXPECT_EQ(winsim::live_com_objects(), 0u);
        EXPECT_EQ(winsim::outstanding_bstrs(), 0u);
        LeakCheckedTest::TearDown();
    }

    static ComPtr<INetFwRules> rules() {
        ComPtr<INetFwPolicy2> policy;
        EXPECT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_INetFwPolicy2, policy.put_void()),
                  S_OK);
        ComPtr<INetFwRules> collection;
        EXPECT_EQ(policy->get_Rules(collection.put()), S_OK);
        return collection;
    }

    static ComPtr<INetFwRule3> new_rule(const char* name) {
        ComPtr<INetFwRule3> rule;
        EXPECT_EQ(CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule3,
                                   rule.put_void()),
                  S_OK);
        if (name != nullptr) {
            EXPECT_EQ(rule->put_Name(allocate_bstr(name).get()), S_OK);
        }
        return rule;
    }
};

TEST_F(SimulatedCom, ApartmentModelIsSetByTheFirstCallAndEveryCallIsBalanced) {
    EXPECT_EQ(CoInitializeEx(reinterpret_cast<LPVOID>(1), COINIT_APARTMENTTHREADED), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(winsim::com_initialization_depth(), 2u);
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many: nothing happens
    EXPECT_EQ(winsim::com_initialization_depth(), 0u);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
}

TEST_F(SimulatedCom, CreationRefusesWhatWindowsRefuses) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                               &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    const CLSID other{0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(
        CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
        REGDB_E_CLASSNOTREG);
    ComPtr<IUnknown> outer;
    ASSERT_EQ(
        CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_ALL, IID_IUnknown, outer.put_void()),
        S_OK);
    EXPECT_EQ(
        CoCreateInstance(CLSID_NetFwRule, outer.get(), CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
        CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule3,
                               &object),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(SimulatedCom, RulesCollectionFindsAddsAndGuardsTheMachinesRules) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    auto collection = rules();
    ComPtr<INetFwRule> found;
    EXPECT_EQ(collection->Item(allocate_bstr("nothing").get(), found.put()),
              static_cast<HRESULT>(0x80070002));
    EXPECT_FALSE(found);

    EXPECT_EQ(collection->Add(new_rule(nullptr).get()), E_INVALIDARG);
    auto rule = new_rule("Block Test");
    // NET_FW_RULE_DIR_MAX is a value of the type but no direction. (A number outside the
    // enumeration's range cannot even be formed without undefined behaviour.)
    EXPECT_EQ(rule->put_Direction(NET_FW_RULE_DIR_MAX), E_INVALIDARG);
    EXPECT_EQ(collection->Add(rule.get()), S_OK);
    EXPECT_EQ(collection->Add(rule.get()), E_UNEXPECTED);

    // A rule of the collection is the stored rule: writes land in the machine at once.
    ASSERT_EQ(collection->Item(allocate_bstr("BLOCK TEST").get(), found.put()), S_OK);
    ComPtr<INetFwRule3> stored;
    ASSERT_EQ(found->QueryInterface(IID_INetFwRule3, stored.put_void()), S_OK);
    EXPECT_EQ(stored->put_Enabled(VARIANT_TRUE), S_OK);
    EXPECT_EQ(nlohmann::json::parse(winsim::firewall_rules_json())[0]["enabled"], true);
    VARIANT_BOOL enabled = VARIANT_FALSE;
    EXPECT_EQ(rule->get_Enabled(&enabled), S_OK);
    EXPECT_EQ(enabled, VARIANT_TRUE);

    winsim::set_process_token_json(winsim::administrator_token_json(false));
    EXPECT_EQ(stored->put_Enabled(VARIANT_FALSE), E_ACCESSDENIED);
    EXPECT_EQ(stored->get_Enabled(&enabled), S_OK);
    auto unsaved = new_rule("Another");
    EXPECT_EQ(unsaved->put_Enabled(VARIANT_TRUE), S_OK);
    EXPECT_EQ(collection->Add(unsaved.get()), E_ACCESSDENIED);
    LONG count = 0;
    EXPECT_EQ(collection->get_Count(&count), S_OK);
    EXPECT_EQ(count, 1);

    winsim::remove_firewall_rules("block test");
    EXPECT_EQ(stored->get_Enabled(&enabled), static_cast<HRESULT>(0x80070002));
}

// Every firewall object answers QueryInterface alike: an injected failure or the null-pointer
// quirk leaves the caller nothing to release and the object's count as it was.
TEST_F(SimulatedCom, FirewallObjectsQueryInterfaceTakesFaultsAndRefusesOtherInterfaces) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ComPtr<INetFwPolicy2> policy;
    ASSERT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                               IID_INetFwPolicy2, policy.put_void()),
              S_OK);
    auto collection = rules();
    auto rule = new_rule("Queried");
    struct Row {
        const char* method;
        IUnknown* object;
        const IID& offered;
    };
    const Row rows[] = {
        {"INetFwPolicy2::QueryInterface", policy.get(), IID_INetFwPolicy2},
        {"INetFwRules::QueryInterface", collection.get(), IID_INetFwRules},
        {"INetFwRule::QueryInterface", rule.get(), IID_INetFwRule3},
    };
    const auto references = [](IUnknown* object) {
        const ULONG count = object->AddRef();
        object->Release();
        return count;
    };
    const HRESULT injected = static_cast<HRESULT>(0x80004005);  // E_FAIL
    for (const auto& row : rows) {
        SCOPED_TRACE(row.method);
        const ULONG before = references(row.object);
        void* out = reinterpret_cast<void*>(1);
        winsim::inject_fault(row.method, static_cast<std::uint32_t>(injected));
        EXPECT_EQ(row.object->QueryInterface(row.offered, &out), injected);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(references(row.object), before);

        out = reinterpret_cast<void*>(1);
        winsim::inject_fault(row.method, 0, 1, winsim::FaultKind::quirk);
        EXPECT_EQ(row.object->QueryInterface(row.offered, &out), S_OK);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(references(row.object), before);

        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(row.object->QueryInterface(IID_IErrorInfo, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(row.object->QueryInterface(row.offered, nullptr), E_POINTER);

        ComPtr<IUnknown> same;
        EXPECT_EQ(row.object->QueryInterface(IID_IUnknown, same.put_void()), S_OK);
        EXPECT_EQ(same.get(), row.object);
        same.reset();
        EXPECT_EQ(references(row.object), before);
        EXPECT_EQ(winsim::pending_fault_count(), 0u);
    }
}

TEST_F(SimulatedCom, BstrKeepsItsLengthAndEveryStringIsCounted) {
    const OLECHAR text[] = {u'a', 0, u'b'};
    UniqueBstr value(SysAllocStringLen(text, 3));
    EXPECT_EQ(SysStringLen(value.get()), 3u);
    EXPECT_EQ(value.get()[3], 0);
    EXPECT_EQ(winsim::outstanding_bstrs(), 1u);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
    value.reset();
    EXPECT_EQ(winsim::outstanding_bstrs(), 0u);
}

TEST_F(SimulatedCom, ErrorObjectIsHandedOutOnceThenThereIsNone) {
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(GetErrorInfo(0, info.put()), S_FALSE);
    EXPECT_FALSE(info);
    ComPtr<ICreateErrorInfo> created;
    ASSERT_EQ(CreateErrorInfo(created.put()), S_OK);
    ComPtr<IErrorInfo> made;
    ASSERT_EQ(created->QueryInterface(IID_IErrorInfo, made.put_void()), S_OK);
    EXPECT_EQ(SetErrorInfo(0, made.get()), S_OK);
    EXPECT_EQ(GetErrorInfo(0, info.put()), S_OK);
    EXPECT_EQ(info.get(), made.get());
    EXPECT_EQ(GetErrorInfo(0, info.put()), S_FALSE);
}

}  // namespace
}  // namespace quarvel
