#include "windows/setup/firewall_rules.h"

#include "windows/setup/firewall_identifiers.h"
#include "windows/setup/hresult_message.h"

namespace quarvel {
namespace {

Failure unavailable(HRESULT result) {
    return com_failure("firewall_unavailable", result);
}

}  // namespace

Result<FirewallRules> open_firewall_rules() {
    auto apartment = ComApartment::join_single_threaded();
    if (!apartment)
        return std::unexpected(unavailable(apartment.error()));
    FirewallRules firewall{std::move(*apartment), {}, {}};

    HRESULT result = CoCreateInstance(kNetFwPolicy2Class, nullptr, CLSCTX_INPROC_SERVER,
                                      kNetFwPolicy2Interface, firewall.policy.put_void());
    if (FAILED(result) || !firewall.policy)
        return std::unexpected(unavailable(result));

    result = firewall.policy->get_Rules(firewall.rules.put());
    if (FAILED(result) || !firewall.rules)
        return std::unexpected(unavailable(result));
    return firewall;
}

}  // namespace quarvel
