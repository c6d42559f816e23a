#include "com/firewall_rule_object.h"

#include <string>

#include "security/sddl.h"
#include "machine/wtf8.h"

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

bool RuleObject::is_descriptor_or_empty(BSTR value) {
    const std::u16string text = bstr_text(value);
    return text.empty() || parse_sddl(wtf8_from_utf16(text)).has_value();
}

HRESULT RuleObject::not_modelled(const char* interface_name, const char* method) {
    if (auto entry = enter_method(method_name(interface_name, method), true); entry.failure)
        return *entry.failure;
    return E_NOTIMPL;
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
    if (auto entry = enter_method(method_name(interface_name, method), true); entry.failure)
        return *entry.failure;
    if (!valid)
        return method_failed(E_INVALIDARG);
    if (!stored()) {
        properties_[field] = std::move(value);
        return S_OK;
    }
    if (!caller_may_change_firewall())
        return method_failed(E_ACCESSDENIED);
    const auto changed = change_stored_rule(*id_, [&](nlohmann::json& rule) { rule[field] = value; });
    if (!changed)
        return method_failed(HRESULT_FROM_WIN32(changed.error()));
    if (!*changed)
        return method_failed(kRuleNotFound);
    return S_OK;
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
