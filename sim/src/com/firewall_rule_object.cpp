#include "com/firewall_rule_object.h"

#include <string>

#include "machine/wtf8.h"
#include "security/sddl.h"

namespace winsim {

HRESULT RuleObject::QueryInterface(REFIID riid, void** object) {
    return counted_query("INetFwRule", riid, object);
}

HRESULT RuleObject::add_to_store() {
    if (stored())
        return E_UNEXPECTED;
    const auto& name = properties_["name"];
    if (!name.is_string() || name.get<std::string>().empty())
        return E_INVALIDARG;
    const auto stored_id = store_rule(properties_);
    if (!stored_id)
        return method_failed(HRESULT_FROM_WIN32(stored_id.error()));
    id_ = *stored_id;
    properties_ = nullptr;
    return S_OK;
}

bool RuleObject::is_any_text(const nlohmann::json& value) {
    return value.is_null() || value == "" || value == "*";
}

std::optional<std::vector<std::string>> RuleObject::interface_names(const VARIANT& value) {
    std::vector<std::string> names;
    if (value.vt == VT_EMPTY)
        return names;
    const SAFEARRAY* array = value.parray;
    if (value.vt != (VT_ARRAY | VT_VARIANT) || array == nullptr || array->cDims != 1)
        return std::nullopt;
    const auto* elements = static_cast<const VARIANT*>(array->pvData);
    for (ULONG k = 0; k < array->rgsabound[0].cElements; ++k) {
        if (elements[k].vt != VT_BSTR || SysStringLen(elements[k].bstrVal) == 0)
            return std::nullopt;
        names.push_back(wtf8_from_utf16(bstr_text(elements[k].bstrVal)));
    }
    return names;
}

bool RuleObject::is_descriptor_or_empty(BSTR value) {
    const std::u16string text = bstr_text(value);
    return text.empty() || parse_sddl(wtf8_from_utf16(text)).has_value();
}

HRESULT RuleObject::modify(const char* interface_name, const char* method,
                           const std::function<HRESULT(nlohmann::json&)>& change) {
    if (auto entry = enter_method(method_name(interface_name, method), true); entry.failure)
        return *entry.failure;
    if (!stored()) {
        nlohmann::json changed = properties_;
        if (const HRESULT result = change(changed); FAILED(result))
            return method_failed(result);
        properties_ = std::move(changed);
        return S_OK;
    }
    // A property that cannot be set is refused before the permission is asked for.
    const bool may_change = caller_may_change_firewall();
    HRESULT result = S_OK;
    const auto changed = change_stored_rule(*id_, [&](nlohmann::json& rule) {
        nlohmann::json copy = rule;
        result = change(copy);
        if (SUCCEEDED(result) && !may_change)
            result = E_ACCESSDENIED;
        if (SUCCEEDED(result))
            rule = std::move(copy);
    });
    if (!changed)
        return method_failed(HRESULT_FROM_WIN32(changed.error()));
    if (!*changed)
        return method_failed(kRuleNotFound);
    return FAILED(result) ? method_failed(result) : S_OK;
}

HRESULT RuleObject::read(const char* interface_name, const char* method, const char* field,
                         bool pointer_given, nlohmann::json& value) {
    if (auto entry = enter_method(method_name(interface_name, method), true); entry.failure)
        return *entry.failure;
    if (!pointer_given)
        return method_failed(E_POINTER);
    if (!stored()) {
        value = properties_[field];
        return S_OK;
    }
    auto rule = stored_rule(*id_);
    if (!rule)
        return method_failed(kRuleNotFound);
    value = (*rule)[field];
    return S_OK;
}

HRESULT RuleObject::write(const char* interface_name, const char* method, const char* field,
                          nlohmann::json value, bool valid) {
    return modify(interface_name, method, [&](nlohmann::json& rule) {
        if (!valid)
            return E_INVALIDARG;
        rule[field] = value;
        return S_OK;
    });
}

HRESULT RuleObject::get_text(const char* interface_name, const char* method, const char* field,
                             BSTR* out) {
    nlohmann::json value;
    if (out != nullptr)
        *out = nullptr;
    const HRESULT result = read(interface_name, method, field, out != nullptr, value);
    if (FAILED(result) || value.is_null())
        return result;
    *out = make_bstr(utf16_from_wtf8(value.get<std::string>()));
    return *out == nullptr ? method_failed(E_OUTOFMEMORY) : S_OK;
}

HRESULT RuleObject::put_text(const char* interface_name, const char* method, const char* field,
                             BSTR value, bool valid) {
    nlohmann::json text = nullptr;
    if (value != nullptr)
        text = wtf8_from_utf16(bstr_text(value));
    return write(interface_name, method, field, std::move(text), valid);
}

HRESULT RuleObject::put_optional_text(const char* interface_name, const char* method,
                                      const char* field, BSTR value) {
    return put_text(interface_name, method, field, value,
                    value == nullptr || SysStringLen(value) > 0);
}

HRESULT RuleObject::put_Protocol(LONG value) {
    return modify("INetFwRule", "put_Protocol", [&](nlohmann::json& rule) {
        if (value < 0 || value > 256)
            return E_INVALIDARG;
        // A rule that leaves TCP and UDP keeps no ports, one that leaves ICMP no types; one
        // that still names ports or types cannot leave (the interface's remarks: first delete
        // the port, then change the protocol).
        if (!protocol_has_ports(value)) {
            for (const char* ports : {"local_ports", "remote_ports"}) {
                if (!is_any_text(rule[ports]))
                    return E_INVALIDARG;
                rule[ports] = nullptr;
            }
        }
        if (!protocol_has_icmp_types(value)) {
            if (!is_any_text(rule["icmp_types_and_codes"]))
                return E_INVALIDARG;
            rule["icmp_types_and_codes"] = nullptr;
        }
        rule["protocol"] = value;
        return S_OK;
    });
}

HRESULT RuleObject::put_ports(const char* method, const char* field, BSTR value) {
    return modify("INetFwRule", method, [&](nlohmann::json& rule) {
        const std::u16string text = bstr_text(value);
        if (!protocol_has_ports(rule["protocol"].get<LONG>()))
            return E_INVALIDARG;
        if (text.empty() || text == u"*") {
            rule[field] = "*";
            return S_OK;
        }
        if (!is_port_list(text))
            return E_INVALIDARG;
        rule[field] = wtf8_from_utf16(text);
        return S_OK;
    });
}

HRESULT RuleObject::put_IcmpTypesAndCodes(BSTR value) {
    return modify("INetFwRule", "put_IcmpTypesAndCodes", [&](nlohmann::json& rule) {
        const std::u16string text = bstr_text(value);
        if (!protocol_has_icmp_types(rule["protocol"].get<LONG>()) || !is_icmp_list(text))
            return E_INVALIDARG;
        rule["icmp_types_and_codes"] = wtf8_from_utf16(text);
        return S_OK;
    });
}

HRESULT RuleObject::put_addresses(const char* method, const char* field, BSTR value) {
    return modify("INetFwRule", method, [&](nlohmann::json& rule) {
        if (value == nullptr || !is_address_list(bstr_text(value)))
            return kInvalidAddress;
        rule[field] = wtf8_from_utf16(bstr_text(value));
        return S_OK;
    });
}

HRESULT RuleObject::get_Interfaces(VARIANT* out) {
    nlohmann::json names;
    const HRESULT result =
        read("INetFwRule", "get_Interfaces", "interfaces", out != nullptr, names);
    if (FAILED(result))
        return result;
    VariantInit(out);
    if (!names.is_array() || names.empty())
        return S_OK;
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(names.size()));
    if (array == nullptr)
        return method_failed(E_OUTOFMEMORY);
    auto* elements = static_cast<VARIANT*>(array->pvData);
    for (std::size_t k = 0; k < names.size(); ++k) {
        elements[k].vt = VT_BSTR;
        elements[k].bstrVal = make_bstr(utf16_from_wtf8(names[k].get<std::string>()));
        if (elements[k].bstrVal == nullptr) {
            (void)SafeArrayDestroy(array);
            return method_failed(E_OUTOFMEMORY);
        }
    }
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
    return S_OK;
}

HRESULT RuleObject::put_Interfaces(VARIANT value) {
    return modify("INetFwRule", "put_Interfaces", [&](nlohmann::json& rule) {
        const auto names = interface_names(value);
        if (!names)
            return E_INVALIDARG;
        rule["interfaces"] = names->empty() ? nlohmann::json(nullptr) : nlohmann::json(*names);
        return S_OK;
    });
}

HRESULT RuleObject::get_number(const char* interface_name, const char* method, const char* field,
                               LONG* out) {
    nlohmann::json value;
    const HRESULT result = read(interface_name, method, field, out != nullptr, value);
    if (SUCCEEDED(result))
        *out = value.get<LONG>();
    return result;
}

HRESULT RuleObject::put_number(const char* interface_name, const char* method, const char* field,
                               LONG value, bool valid) {
    return write(interface_name, method, field, value, valid);
}

HRESULT RuleObject::get_flag(const char* interface_name, const char* method, const char* field,
                             VARIANT_BOOL* out) {
    nlohmann::json value;
    const HRESULT result = read(interface_name, method, field, out != nullptr, value);
    if (SUCCEEDED(result))
        *out = value.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
}

HRESULT RuleObject::put_flag(const char* interface_name, const char* method, const char* field,
                             VARIANT_BOOL value) {
    return write(interface_name, method, field, value != VARIANT_FALSE, true);
}

}  // namespace winsim
