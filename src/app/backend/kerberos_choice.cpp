#include "app/backend/kerberos_choice.h"

#include <unistd.h>

namespace vuv::app {
namespace {

std::vector<std::string> argumentsFor(bool ticketPresent) {
  if (!ticketPresent) return {};
  return {"--kerberos", "desired"};
}

}  // namespace

std::vector<std::string> kerberosWorkerArguments(std::optional<std::string_view> krb5ccname,
                                                 unsigned uid, const FileExists& exists) {
  return argumentsFor(ticketCachePresent(krb5ccname, uid, exists));
}

std::vector<std::string> kerberosWorkerArguments() {
  return argumentsFor(ticketCachePresent(static_cast<unsigned>(::getuid())));
}

}  // namespace vuv::app
