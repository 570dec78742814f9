#include "net/transport/host_resolver.h"

#include "platform/sockets/socket_ops.h"

namespace lumvara {

HostResolver systemHostResolver() {
  // A lambda rather than the bare function pointer: the typeinfo the
  // std::function keeps is then of a type of ours, which stays hidden in
  // the shared library instead of being exported as a weak symbol.
  return [](const std::string& name, std::string& dotted) { return lookupHostIPv4(name, dotted); };
}

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
