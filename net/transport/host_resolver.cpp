#include "net/transport/host_resolver.h"

#include "platform/sockets/socket_ops.h"

namespace lumvara {

HostResolver systemHostResolver() { return lookupHostIPv4; }

bool resolveHost(const std::string& host, const HostResolver& resolver, std::string& dotted) {
    in_addr address{};
    if (parseIPv4(host, address)) {
        dotted = host;
        return true;
    }
    if (!resolver) {
        return false;
    }
    return resolver(host, dotted);
}

}  // namespace lumvara
