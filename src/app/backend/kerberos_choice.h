// How the window's SMB workers use Kerberos. With a ticket cache there (the worker's own rule,
// browse/kerberos_ticket.h) they log on with the ticket, and a server that will not take it
// falls back to guest access and then the password dialog (Desired); without one, Kerberos
// stays off.
#pragma once

#include <optional>
#include <string_view>

#include "browse/credentials.h"
#include "browse/kerberos_ticket.h"

namespace vuv::app {

KerberosUse kerberosChoice(std::optional<std::string_view> krb5ccname, unsigned uid, const FileExists& exists);
// The same for this process's environment and files.
KerberosUse kerberosChoice();

}  // namespace vuv::app
