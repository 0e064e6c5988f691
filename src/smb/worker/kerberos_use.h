// How a worker uses Kerberos, as the user chose it (smbclient's --use-kerberos).
#pragma once

namespace vuv::smb {

enum class KerberosUse {
  Off,       // NTLM only
  Desired,   // Kerberos with the ticket cache; NTLM when that fails (no ticket)
  Required,  // Kerberos only
};

}  // namespace vuv::smb
