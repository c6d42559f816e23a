// The simulated host's COM keeps Windows' documented contract: apartment rules, what object
// creation refuses, the firewall rules collection, the rules' properties and the order Windows
// demands of them, the firewall's own settings, BSTRs, variants and arrays, and the thread's
// error object.

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
        EXPECT_EQ(winsim::outstanding_safe_arrays(), 0u);
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

    static ComPtr<INetFwPolicy2> policy() {
        ComPtr<INetFwPolicy2> created;
        EXPECT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_INetFwPolicy2, created.put_void()),
                  S_OK);
        return created;
    }

    // A VARIANT holding an array of BSTR variants with these texts, as a caller builds it.
    static VARIANT names(std::initializer_list<const char*> texts) {
        VARIANT value;
        VariantInit(&value);
        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
        void* data = nullptr;
        EXPECT_EQ(SafeArrayAccessData(array, &data), S_OK);
        auto* elements = static_cast<VARIANT*>(data);
        for (const char* text : texts) {
            elements->vt = VT_BSTR;
            elements->bstrVal = allocate_bstr(text).release();
            ++elements;
        }
        EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
        value.vt = VT_ARRAY | VT_VARIANT;
        value.parray = array;
        return value;
    }

    static nlohmann::json stored(const char* name) {
        for (const auto& rule : nlohmann::json::parse(winsim::firewall_rules_json()))
            if (rule["name"] == name)
                return rule;
        return nullptr;
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
    ASSERT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                               policy.put_void()),
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

// Windows checks a rule at every change: ports only on TCP and UDP rules, ICMP types only on
// ICMP rules, and no protocol change while a rule still names either.
TEST_F(SimulatedCom, PortsAndIcmpTypesBelongToTheirProtocolsAndMustGoBeforeItChanges) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    auto rule = new_rule("Ports");
    LONG protocol = 0;
    ASSERT_EQ(rule->get_Protocol(&protocol), S_OK);
    EXPECT_EQ(protocol, 256);
    EXPECT_EQ(rule->put_RemotePorts(allocate_bstr("*").get()), E_INVALIDARG);
    EXPECT_EQ(rule->put_LocalPorts(allocate_bstr("80").get()), E_INVALIDARG);
    EXPECT_EQ(rule->put_IcmpTypesAndCodes(allocate_bstr("*").get()), E_INVALIDARG);
    EXPECT_EQ(rule->put_Protocol(257), E_INVALIDARG);

    ASSERT_EQ(rule->put_Protocol(6), S_OK);
    EXPECT_EQ(rule->put_LocalPorts(allocate_bstr("80,1024-2048,RPC").get()), S_OK);
    EXPECT_EQ(rule->put_RemotePorts(allocate_bstr("443").get()), S_OK);
    EXPECT_EQ(rule->put_RemotePorts(allocate_bstr("70000").get()), E_INVALIDARG);
    EXPECT_EQ(rule->put_RemotePorts(allocate_bstr("1,,2").get()), E_INVALIDARG);
    EXPECT_EQ(rule->put_Protocol(17), S_OK);  // UDP keeps the ports
    EXPECT_EQ(rule->put_Protocol(256), E_INVALIDARG);
    EXPECT_EQ(rule->put_Protocol(1), E_INVALIDARG);
    ASSERT_EQ(rule->put_LocalPorts(allocate_bstr("*").get()), S_OK);
    ASSERT_EQ(rule->put_RemotePorts(nullptr), S_OK);  // null is any port too
    UniqueBstr ports;
    ASSERT_EQ(rule->get_RemotePorts(ports.put()), S_OK);
    EXPECT_EQ(bstr_to_utf8(ports.get()), "*");
    ASSERT_EQ(rule->put_Protocol(1), S_OK);
    ASSERT_EQ(rule->get_LocalPorts(ports.put()), S_OK);
    EXPECT_FALSE(ports) << "a rule that left TCP and UDP keeps no ports";

    EXPECT_EQ(rule->put_IcmpTypesAndCodes(allocate_bstr("8:*;0").get()), S_OK);
    EXPECT_EQ(rule->put_IcmpTypesAndCodes(allocate_bstr("echo").get()), E_INVALIDARG);
    EXPECT_EQ(rule->put_Protocol(256), E_INVALIDARG);
    ASSERT_EQ(rule->put_IcmpTypesAndCodes(allocate_bstr("*").get()), S_OK);
    EXPECT_EQ(rule->put_Protocol(256), S_OK);
    ASSERT_EQ(rule->get_IcmpTypesAndCodes(ports.put()), S_OK);
    EXPECT_FALSE(ports);

    // The same checks on a stored rule, before the permission is asked for.
    ASSERT_EQ(rules()->Add(rule.get()), S_OK);
    winsim::change_firewall_rule("Ports", R"({"protocol": 6, "remote_ports": "443"})");
    winsim::set_process_token_json(winsim::administrator_token_json(false));
    EXPECT_EQ(rule->put_Protocol(256), E_INVALIDARG);
    EXPECT_EQ(rule->put_RemotePorts(allocate_bstr("*").get()), E_ACCESSDENIED);
    EXPECT_EQ(stored("Ports")["remote_ports"], "443");
}

// Texts whose absence is null refuse "", addresses and interface types take only their own
// forms, and the interface list is a VARIANT: nothing, or an array of names.
TEST_F(SimulatedCom, RulePropertiesTakeWhatWindowsTakesAndHandOutWhatTheyHold) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    auto rule = new_rule("Scope");
    struct Row {
        const char* what;
        HRESULT (INetFwRule3::*put)(BSTR);
        const char* value;  // null: a null BSTR
        HRESULT expected;
    } rows[] = {
        {"application", &INetFwRule3::put_ApplicationName, "C:\\tools\\curl.exe", S_OK},
        {"application cleared", &INetFwRule3::put_ApplicationName, nullptr, S_OK},
        {"application empty", &INetFwRule3::put_ApplicationName, "", E_INVALIDARG},
        {"service cleared", &INetFwRule3::put_ServiceName, nullptr, S_OK},
        {"service empty", &INetFwRule3::put_ServiceName, "", E_INVALIDARG},
        {"package empty", &INetFwRule3::put_LocalAppPackageId, "", E_INVALIDARG},
        {"package cleared", &INetFwRule3::put_LocalAppPackageId, nullptr, S_OK},
        {"any address", &INetFwRule3::put_RemoteAddresses, "*", S_OK},
        {"addresses", &INetFwRule3::put_RemoteAddresses,
         "10.0.0.1,10.1.0.0/16,10.2.0.1-10.2.0.9,fe80::1,LocalSubnet,dns", S_OK},
        {"any among others", &INetFwRule3::put_RemoteAddresses, "*,10.0.0.1",
         static_cast<HRESULT>(0xD000000D)},
        {"no address", &INetFwRule3::put_LocalAddresses, nullptr, static_cast<HRESULT>(0xD000000D)},
        {"a word", &INetFwRule3::put_LocalAddresses, "somewhere", static_cast<HRESULT>(0xD000000D)},
        {"all interface types", &INetFwRule3::put_InterfaceTypes, "all", S_OK},
        {"two interface types", &INetFwRule3::put_InterfaceTypes, "Lan,Wireless", S_OK},
        {"all among others", &INetFwRule3::put_InterfaceTypes, "All,Lan", E_INVALIDARG},
        {"no interface type", &INetFwRule3::put_InterfaceTypes, nullptr, E_INVALIDARG},
    };
    for (const auto& row : rows) {
        UniqueBstr value = row.value == nullptr ? UniqueBstr() : allocate_bstr(row.value);
        EXPECT_EQ((rule.get()->*row.put)(value.get()), row.expected) << row.what;
    }

    OwnedVariant interfaces;
    ASSERT_EQ(rule->get_Interfaces(interfaces.put()), S_OK);
    EXPECT_EQ(interfaces.get().vt, VT_EMPTY);
    VARIANT two = names({"Ethernet", "Wi-Fi"});
    EXPECT_EQ(rule->put_Interfaces(two), S_OK);
    EXPECT_EQ(VariantClear(&two), S_OK);
    ASSERT_EQ(rule->get_Interfaces(interfaces.put()), S_OK);
    ASSERT_EQ(interfaces.get().vt, VT_ARRAY | VT_VARIANT);
    const SAFEARRAY& array = *interfaces.get().parray;
    ASSERT_EQ(array.rgsabound[0].cElements, 2u);
    EXPECT_EQ(bstr_to_utf8(static_cast<VARIANT*>(array.pvData)[1].bstrVal), "Wi-Fi");
    EXPECT_EQ(winsim::outstanding_safe_arrays(), 1u);

    VARIANT unnamed = names({""});
    EXPECT_EQ(rule->put_Interfaces(unnamed), E_INVALIDARG);
    EXPECT_EQ(VariantClear(&unnamed), S_OK);
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    EXPECT_EQ(rule->put_Interfaces(number), E_INVALIDARG);
    VARIANT none;
    VariantInit(&none);
    EXPECT_EQ(rule->put_Interfaces(none), S_OK);
    ASSERT_EQ(rule->get_Interfaces(interfaces.put()), S_OK);
    EXPECT_EQ(interfaces.get().vt, VT_EMPTY);
    EXPECT_EQ(winsim::outstanding_safe_arrays(), 0u);

    ASSERT_EQ(rules()->Add(rule.get()), S_OK);
    const auto kept = stored("Scope");
    EXPECT_EQ(kept["application_name"], nullptr);
    EXPECT_EQ(kept["remote_addresses"],
              "10.0.0.1,10.1.0.0/16,10.2.0.1-10.2.0.9,fe80::1,LocalSubnet,dns");
    EXPECT_EQ(kept["interface_types"], "Lan,Wireless");
    EXPECT_EQ(kept["interfaces"], nullptr);
    EXPECT_EQ(kept["local_addresses"], "*");
}

// The firewall's own settings as the test sets them, one profile at a time, with the faults of
// every method.
TEST_F(SimulatedCom, PolicyReportsTheCurrentProfilesTheirFirewallAndTheLocalPolicyState) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    auto firewall = policy();
    LONG current = 0;
    ASSERT_EQ(firewall->get_CurrentProfileTypes(&current), S_OK);
    EXPECT_EQ(current, NET_FW_PROFILE2_PUBLIC);
    VARIANT_BOOL enabled = VARIANT_FALSE;
    for (const auto profile :
         {NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC}) {
        ASSERT_EQ(firewall->get_FirewallEnabled(profile, &enabled), S_OK);
        EXPECT_EQ(enabled, VARIANT_TRUE);
    }
    NET_FW_MODIFY_STATE state = NET_FW_MODIFY_STATE_INBOUND_BLOCKED;
    ASSERT_EQ(firewall->get_LocalPolicyModifyState(&state), S_OK);
    EXPECT_EQ(state, NET_FW_MODIFY_STATE_OK);

    winsim::change_firewall_policy(
        R"({"current_profiles": 3, "enabled_profiles": 1, "local_policy_modify_state": 1})");
    ASSERT_EQ(firewall->get_CurrentProfileTypes(&current), S_OK);
    EXPECT_EQ(current, 3);
    ASSERT_EQ(firewall->get_FirewallEnabled(NET_FW_PROFILE2_PRIVATE, &enabled), S_OK);
    EXPECT_EQ(enabled, VARIANT_FALSE);
    ASSERT_EQ(firewall->get_LocalPolicyModifyState(&state), S_OK);
    EXPECT_EQ(state, NET_FW_MODIFY_STATE_GP_OVERRIDE);

    EXPECT_EQ(firewall->get_FirewallEnabled(NET_FW_PROFILE2_ALL, &enabled), E_INVALIDARG);
    EXPECT_EQ(firewall->get_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, nullptr), E_POINTER);
    EXPECT_EQ(firewall->get_CurrentProfileTypes(nullptr), E_POINTER);
    EXPECT_EQ(firewall->get_LocalPolicyModifyState(nullptr), E_POINTER);
    for (const char* method :
         {"INetFwPolicy2::get_CurrentProfileTypes", "INetFwPolicy2::get_FirewallEnabled",
          "INetFwPolicy2::get_LocalPolicyModifyState"}) {
        winsim::inject_fault(method, 0x80070005);
        HRESULT result = S_OK;
        if (std::string_view(method).ends_with("CurrentProfileTypes"))
            result = firewall->get_CurrentProfileTypes(&current);
        else if (std::string_view(method).ends_with("FirewallEnabled"))
            result = firewall->get_FirewallEnabled(NET_FW_PROFILE2_DOMAIN, &enabled);
        else
            result = firewall->get_LocalPolicyModifyState(&state);
        EXPECT_EQ(result, E_ACCESSDENIED) << method;
    }
    EXPECT_EQ(winsim::pending_fault_count(), 0u);
}

// Variants release what they hold; an array in use cannot be destroyed.
TEST_F(SimulatedCom, VariantClearReleasesItsArrayWithEveryElement) {
    VARIANT value = names({"one", "two"});
    EXPECT_EQ(winsim::outstanding_safe_arrays(), 1u);
    EXPECT_EQ(winsim::outstanding_bstrs(), 2u);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(value.parray, &data), S_OK);
    EXPECT_EQ(VariantClear(&value), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(value.parray), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(value.parray), E_UNEXPECTED);
    EXPECT_EQ(VariantClear(&value), S_OK);
    EXPECT_EQ(value.vt, VT_EMPTY);
    EXPECT_EQ(winsim::outstanding_safe_arrays(), 0u);
    EXPECT_EQ(winsim::outstanding_bstrs(), 0u);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
    value.vt = 0x7FFF;
    EXPECT_EQ(VariantClear(&value), DISP_E_BADVARTYPE);
    EXPECT_EQ(SafeArrayCreateVector(VT_BOOL, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
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
