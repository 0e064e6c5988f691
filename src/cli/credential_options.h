// Credentials as the usual SMB command line tools take them:
//   -U [DOMAIN\]USER[%PASSWORD]   (DOMAIN/USER also accepted)
//   -A FILE                       lines "username = ...", "password = ...", "domain = ..."
//   -N                            do not ask for a password
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "browse/credentials.h"

namespace vuv::cli {

struct UserArgument {
  Credentials credentials;
  bool hasPassword = false;  // "%..." was given, even if empty
};

UserArgument parseUserArgument(std::string_view text);

// Reads an authentication file. Unknown keys and comment lines (#, ;) are ignored.
Result<Credentials> readAuthenticationFile(const std::string& path);
Result<Credentials> parseAuthenticationText(std::string_view text);

}  // namespace vuv::cli
