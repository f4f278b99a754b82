#include "net/endpoint.h"

#ifdef _WIN32
#include <ws2tcpip.h>  // inet_ntop
#else
#include <arpa/inet.h>
#endif

namespace mervox::media::net {

std::string AddressText(const Endpoint& e)
{
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(e.ipVersion == kIpv6 ? AF_INET6 : AF_INET, e.address.data(), text, sizeof text);
    return text;
}

std::string EndpointText(const Endpoint& e)
{
    const std::string address = AddressText(e);
    const std::string port = std::to_string(e.port);
    return e.ipVersion == kIpv6 ? "[" + address + "]:" + port : address + ":" + port;
}

}  // namespace mervox::media::net
