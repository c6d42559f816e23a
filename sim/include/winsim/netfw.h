#pragma once
// The Windows Firewall policy objects of the simulated host (HNetCfg.FwPolicy2, HNetCfg.FWRule),
// declared with the SDK's method order so that the program's calls are the same in both lanes.
// Rules are kept in the machine ("firewall.json"); reading needs nothing, writing needs a token
// with Administrators enabled (elevated), else E_ACCESSDENIED.
//
// Every method takes fault injection under "<interface>::<method>" (the interface the object is
// known by: "INetFwPolicy2::get_Rules", "INetFwRules::Item", "INetFwRule::put_Enabled",
// "INetFwRule3::get_LocalUserAuthorizedList", "INetFwRule::QueryInterface", ...): the method
// returns the injected HRESULT. Methods that hand out an interface pointer also take the quirk
// S_OK with a null pointer.

#include <winsim/com.h>

enum NET_FW_RULE_DIRECTION {
    NET_FW_RULE_DIR_IN = 1,
    NET_FW_RULE_DIR_OUT = 2,
    NET_FW_RULE_DIR_MAX = 3,
};
enum NET_FW_ACTION {
    NET_FW_ACTION_BLOCK = 0,
    NET_FW_ACTION_ALLOW = 1,
    NET_FW_ACTION_MAX = 2,
};
enum NET_FW_PROFILE_TYPE2 {
    NET_FW_PROFILE2_DOMAIN = 0x1,
    NET_FW_PROFILE2_PRIVATE = 0x2,
    NET_FW_PROFILE2_PUBLIC = 0x4,
    NET_FW_PROFILE2_ALL = 0x7FFFFFFF,
};
enum NET_FW_IP_PROTOCOL {
    NET_FW_IP_PROTOCOL_TCP = 6,
    NET_FW_IP_PROTOCOL_UDP = 17,
    NET_FW_IP_PROTOCOL_ANY = 256,
};
enum NET_FW_MODIFY_STATE {
    NET_FW_MODIFY_STATE_OK = 0,
    NET_FW_MODIFY_STATE_GP_OVERRIDE = 1,
    NET_FW_MODIFY_STATE_INBOUND_BLOCKED = 2,
};

struct INetFwServiceRestriction;

// get_Name 7 ... put_Action 42, as in the SDK.
struct INetFwRule : public IDispatch {
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT put_Name(BSTR name) = 0;
    virtual HRESULT get_Description(BSTR* desc) = 0;
    virtual HRESULT put_Description(BSTR desc) = 0;
    virtual HRESULT get_ApplicationName(BSTR* imagename) = 0;
    virtual HRESULT put_ApplicationName(BSTR imagename) = 0;
    virtual HRESULT get_ServiceName(BSTR* service) = 0;
    virtual HRESULT put_ServiceName(BSTR service) = 0;
    virtual HRESULT get_Protocol(LONG* protocol) = 0;
    virtual HRESULT put_Protocol(LONG protocol) = 0;
    virtual HRESULT get_LocalPorts(BSTR* ports) = 0;
    virtual HRESULT put_LocalPorts(BSTR ports) = 0;
    virtual HRESULT get_RemotePorts(BSTR* ports) = 0;
    virtual HRESULT put_RemotePorts(BSTR ports) = 0;
    virtual HRESULT get_LocalAddresses(BSTR* address) = 0;
    virtual HRESULT put_LocalAddresses(BSTR address) = 0;
    virtual HRESULT get_RemoteAddresses(BSTR* address) = 0;
    virtual HRESULT put_RemoteAddresses(BSTR address) = 0;
    virtual HRESULT get_IcmpTypesAndCodes(BSTR* codes) = 0;
    virtual HRESULT put_IcmpTypesAndCodes(BSTR codes) = 0;
    virtual HRESULT get_Direction(NET_FW_RULE_DIRECTION* dir) = 0;
    virtual HRESULT put_Direction(NET_FW_RULE_DIRECTION dir) = 0;
    virtual HRESULT get_Interfaces(VARIANT* interfaces) = 0;
    virtual HRESULT put_Interfaces(VARIANT interfaces) = 0;
    virtual HRESULT get_InterfaceTypes(BSTR* types) = 0;
    virtual HRESULT put_InterfaceTypes(BSTR types) = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT put_Enabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT get_Grouping(BSTR* context) = 0;
    virtual HRESULT put_Grouping(BSTR context) = 0;
    virtual HRESULT get_Profiles(LONG* profiles) = 0;
    virtual HRESULT put_Profiles(LONG profiles) = 0;
    virtual HRESULT get_EdgeTraversal(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT put_EdgeTraversal(VARIANT_BOOL enabled) = 0;
    virtual HRESULT get_Action(NET_FW_ACTION* action) = 0;
    virtual HRESULT put_Action(NET_FW_ACTION action) = 0;
};

struct INetFwRule2 : public INetFwRule {
    virtual HRESULT get_EdgeTraversalOptions(LONG* options) = 0;
    virtual HRESULT put_EdgeTraversalOptions(LONG options) = 0;
};

// get_LocalAppPackageId 45 ... put_SecureFlags 56; get_LocalUserAuthorizedList is 49.
struct INetFwRule3 : public INetFwRule2 {
    virtual HRESULT get_LocalAppPackageId(BSTR* package_id) = 0;
    virtual HRESULT put_LocalAppPackageId(BSTR package_id) = 0;
    virtual HRESULT get_LocalUserOwner(BSTR* owner) = 0;
    virtual HRESULT put_LocalUserOwner(BSTR owner) = 0;
    virtual HRESULT get_LocalUserAuthorizedList(BSTR* list) = 0;
    virtual HRESULT put_LocalUserAuthorizedList(BSTR list) = 0;
    virtual HRESULT get_RemoteUserAuthorizedList(BSTR* list) = 0;
    virtual HRESULT put_RemoteUserAuthorizedList(BSTR list) = 0;
    virtual HRESULT get_RemoteMachineAuthorizedList(BSTR* list) = 0;
    virtual HRESULT put_RemoteMachineAuthorizedList(BSTR list) = 0;
    virtual HRESULT get_SecureFlags(LONG* options) = 0;
    virtual HRESULT put_SecureFlags(LONG options) = 0;
};

// get_Count 7, Add 8, Remove 9, Item 10, get__NewEnum 11.
struct INetFwRules : public IDispatch {
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT Add(INetFwRule* rule) = 0;
    virtual HRESULT Remove(BSTR name) = 0;
    virtual HRESULT Item(BSTR name, INetFwRule** rule) = 0;
    virtual HRESULT get__NewEnum(IUnknown** new_enum) = 0;
};

// get_CurrentProfileTypes 7 ... get_Rules 18 ... get_LocalPolicyModifyState 30.
struct INetFwPolicy2 : public IDispatch {
    virtual HRESULT get_CurrentProfileTypes(LONG* profile) = 0;
    virtual HRESULT get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profile, VARIANT_BOOL* enabled) = 0;
    virtual HRESULT put_FirewallEnabled(NET_FW_PROFILE_TYPE2 profile, VARIANT_BOOL enabled) = 0;
    virtual HRESULT get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2 profile, VARIANT* interfaces) = 0;
    virtual HRESULT put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2 profile, VARIANT interfaces) = 0;
    virtual HRESULT get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2 profile,
                                               VARIANT_BOOL* block) = 0;
    virtual HRESULT put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2 profile,
                                               VARIANT_BOOL block) = 0;
    virtual HRESULT get_NotificationsDisabled(NET_FW_PROFILE_TYPE2 profile,
                                              VARIANT_BOOL* disabled) = 0;
    virtual HRESULT put_NotificationsDisabled(NET_FW_PROFILE_TYPE2 profile,
                                              VARIANT_BOOL disabled) = 0;
    virtual HRESULT get_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2 profile,
                                                                     VARIANT_BOOL* disabled) = 0;
    virtual HRESULT put_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2 profile,
                                                                     VARIANT_BOOL disabled) = 0;
    virtual HRESULT get_Rules(INetFwRules** rules) = 0;
    virtual HRESULT get_ServiceRestriction(INetFwServiceRestriction** restriction) = 0;
    virtual HRESULT EnableRuleGroup(LONG profiles, BSTR group, VARIANT_BOOL enable) = 0;
    virtual HRESULT IsRuleGroupEnabled(LONG profiles, BSTR group, VARIANT_BOOL* enabled) = 0;
    virtual HRESULT RestoreLocalFirewallDefaults() = 0;
    virtual HRESULT get_DefaultInboundAction(NET_FW_PROFILE_TYPE2 profile,
                                             NET_FW_ACTION* action) = 0;
    virtual HRESULT put_DefaultInboundAction(NET_FW_PROFILE_TYPE2 profile,
                                             NET_FW_ACTION action) = 0;
    virtual HRESULT get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2 profile,
                                              NET_FW_ACTION* action) = 0;
    virtual HRESULT put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2 profile,
                                              NET_FW_ACTION action) = 0;
    virtual HRESULT get_IsRuleGroupCurrentlyEnabled(BSTR group, VARIANT_BOOL* enabled) = 0;
    virtual HRESULT get_LocalPolicyModifyState(NET_FW_MODIFY_STATE* state) = 0;
};

inline constexpr CLSID CLSID_NetFwPolicy2{
    0xE2B3C97F, 0x6AE1, 0x41AC, {0x81, 0x7A, 0xF6, 0xF9, 0x21, 0x66, 0xD7, 0xDD}};
inline constexpr CLSID CLSID_NetFwRule{
    0x2C5BC43E, 0x3369, 0x4C33, {0xAB, 0x0C, 0xBE, 0x94, 0x69, 0x67, 0x7A, 0xF4}};
inline constexpr IID IID_INetFwPolicy2{
    0x98325047, 0xC671, 0x4174, {0x8D, 0x81, 0xDE, 0xFC, 0xD3, 0xF0, 0x31, 0x86}};
inline constexpr IID IID_INetFwRules{
    0x9C4C6277, 0x5027, 0x441E, {0xAF, 0xAE, 0xCA, 0x1F, 0x54, 0x2D, 0xA0, 0x09}};
inline constexpr IID IID_INetFwRule{
    0xAF230D27, 0xBABA, 0x4E42, {0xAC, 0xED, 0xF5, 0x24, 0xF2, 0x2C, 0xFC, 0xE2}};
inline constexpr IID IID_INetFwRule2{
    0x9C27C8DA, 0x189B, 0x4DDE, {0x89, 0xF7, 0x8B, 0x39, 0xA3, 0x16, 0x78, 0x2C}};
inline constexpr IID IID_INetFwRule3{
    0xB21563FF, 0xD696, 0x4222, {0xAB, 0x46, 0x4E, 0x89, 0xB7, 0x3A, 0xB3, 0x4A}};
