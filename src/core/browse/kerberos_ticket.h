// Whether a Kerberos ticket cache is there to use: the one rule the SMB worker (to tell "no
// ticket" from other failures) and the window (to choose Kerberos when a ticket is there) share.
//
// The cache is the one KRB5CCNAME names, or FILE:/tmp/krb5cc_UID when it is unset or empty. A
// FILE: cache (or a plain path) is present when the file exists. Other kinds (KEYRING:, KCM:,
// DIR: ...) cannot be looked into without the Kerberos library and count as present.
// Thread-safe; reads the file system only through `exists`.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vuv {

using FileExists = std::function<bool(const std::string& path)>;

bool ticketCachePresent(std::optional<std::string_view> krb5ccname, unsigned uid,
                        const FileExists& exists);

// The same with this process's KRB5CCNAME and file system, for the user `uid` (getuid()).
bool ticketCachePresent(unsigned uid);

}  // namespace vuv
