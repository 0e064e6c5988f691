// Where a server name is, by the sources that name hosts on their own authority: the hosts
// file, DNS and NetBIOS. (WS-Discovery is not one: any host may announce any name, so what it
// says is weighed against these; see HostAddressBook.)
//
// Thread safety: resolve() may be called from several threads at once.
#pragma once

#include <map>
#include <stop_token>
#include <string>
#include <vector>

namespace vuv {

struct ResolvedName {
  std::string address;         // IPv4, dotted
  bool byNameService = false;  // the hosts file or DNS gave it (a name Kerberos can use)
};

class NameResolver {
 public:
  virtual ~NameResolver() = default;
  // The names (as given) that some source placed in time; the others are missing. Returns
  // promptly once `stop` is requested.
  virtual std::map<std::string, ResolvedName> resolve(const std::vector<std::string>& names,
                                                      std::stop_token stop) = 0;
};

}  // namespace vuv
