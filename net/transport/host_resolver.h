#pragma once
// How connections turn host text into a dotted IPv4 address.
//
// Dotted IPv4 text is used as it stands; anything else goes to a resolver.
// The resolver is injectable so that tests never ask DNS for a real name.

#include <functional>
#include <string>

namespace lumvara {

// Fills `dotted` with the first IPv4 address of `name`; false when the name
// does not resolve. May block (a system lookup does).
using HostResolver = std::function<bool(const std::string& name, std::string& dotted)>;

// The system's lookup (getaddrinfo, IPv4 only).
HostResolver systemHostResolver();

// Dotted text as-is, else the resolver. False when neither yields an address.
bool resolveHost(const std::string& host, const HostResolver& resolver, std::string& dotted);

}  // namespace lumvara
