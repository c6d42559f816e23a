#include <string>

#include "selftest/network.h"
#include "selftest/probe/sandbox_checks.h"

namespace quarvel::selftest {
namespace {

constexpr const char* kLoopbackTitle = "connect over TCP to the self-test's listener on loopback";
constexpr const char* kAddressTitle =
    "connect over TCP to the self-test's listener on the machine's own non-loopback address";
constexpr const char* kLookupTitle = "look up a host name";

}  // namespace

#if QUARVEL_HAS_SOCKETS
namespace {

constexpr std::uint32_t kConnectTimeoutMs = 3000;
// What a connection that a firewall or the network stack refused ends with.
const std::vector<std::uint32_t> kNetworkRefusals = {
    WSAEACCES, WSAETIMEDOUT, WSAECONNREFUSED, WSAENETUNREACH, WSAEHOSTUNREACH, WSAECONNRESET};

}  // namespace

std::vector<CheckResult> network_checks(const ProbeRequest& request) {
    SocketLibrary sockets;
    std::vector<CheckResult> checks;
    if (!sockets.ready() || !request.listener_port) {
        checks.push_back(not_reached("network.loopback.connect", kLoopbackTitle,
                                     Expectation::observe, "the self-test has no listener"));
    } else {
        checks.push_back(attempt(
            "network.loopback.connect", kLoopbackTitle, Expectation::observe,
            try_connect("127.0.0.1", *request.listener_port, kConnectTimeoutMs), kNetworkRefusals));
    }
    const Expectation address_expected =
        request.network_enabled ? Expectation::observe : Expectation::denied;
    if (!sockets.ready() || !request.listener_port || !request.own_address) {
        // The self-test could not reach its own listener there itself: nothing to compare.
        checks.push_back(unavailable("network.address.connect", kAddressTitle, address_expected));
    } else {
        checks.push_back(
            attempt("network.address.connect", kAddressTitle, address_expected,
                    try_connect(*request.own_address, *request.listener_port, kConnectTimeoutMs),
                    kNetworkRefusals));
    }
    checks.push_back(
        attempt("network.lookup", kLookupTitle + (" " + request.lookup_name), Expectation::observe,
                sockets.ready() ? try_lookup(request.lookup_name) : WSANOTINITIALISED, {}));
    return checks;
}
#else
std::vector<CheckResult> network_checks(const ProbeRequest& request) {
    return {unavailable("network.loopback.connect", kLoopbackTitle, Expectation::observe),
            unavailable("network.address.connect", kAddressTitle,
                        request.network_enabled ? Expectation::observe : Expectation::denied),
            unavailable("network.lookup", kLookupTitle, Expectation::observe)};
}
#endif

}  // namespace quarvel::selftest
