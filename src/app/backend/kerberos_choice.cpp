#include "app/backend/kerberos_choice.h"

#include <unistd.h>

namespace vuv::app {

KerberosUse kerberosChoice(std::optional<std::string_view> krb5ccname, unsigned uid, const FileExists& exists) {
  return ticketCachePresent(krb5ccname, uid, exists) ? KerberosUse::Desired : KerberosUse::Off;
}

KerberosUse kerberosChoice() {
  return ticketCachePresent(static_cast<unsigned>(::getuid())) ? KerberosUse::Desired : KerberosUse::Off;
}

}  // namespace vuv::app
