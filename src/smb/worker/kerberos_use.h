// How a worker uses Kerberos, as the user chose it (smbclient's --use-kerberos).
#pragma once

#include "browse/credentials.h"

namespace vuv::smb {

using KerberosUse = vuv::KerberosUse;

}  // namespace vuv::smb
