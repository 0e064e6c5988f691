// Credentials as the usual SMB command line tools take them:
//   -U [DOMAIN\]USER[%PASSWORD]   (DOMAIN/USER also accepted)
//   -A FILE                       lines "username = ...", "password = ...", "domain = ..."
//   PASSWD, PASSWD_FD, PASSWD_FILE  the password of a user who gave none
//   -N                            no password at all, and nobody is asked
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "browse/credentials.h"
#include "cli/cli_options.h"

namespace vuv::cli {

struct UserArgument {
  Credentials credentials;
  bool hasPassword = false;  // "%..." or a password line was given, even if empty
};

UserArgument parseUserArgument(std::string_view text);

// An authentication file: "key = value" lines, keys in any letter case, blank lines and
// comments (#, ;) skipped. A value keeps everything up to the line end (LF or CR LF), trailing
// blanks included; blanks right after '=' belong to the separator. "username" may carry the
// domain and password (DOMAIN\user%password). Other keys, lines without '=' and a password
// without a user name are errors (BadFormat); so is a file that cannot be read (Io).
Result<UserArgument> readAuthenticationFile(const std::string& path);
Result<UserArgument> parseAuthenticationText(std::string_view text);

// Where a missing password may come from. Tests supply their own.
struct PasswordSources {
  std::function<std::optional<std::string>(const char* name)> environment;
  std::function<Result<std::string>(int fd)> readDescriptor;  // first line of an open descriptor
  std::function<Result<std::string>(const std::string& path)> readFile;  // first line of a file
  std::function<std::optional<std::string>(const std::string& prompt)> ask;  // nullopt: no terminal
};

// The process's environment, files and terminal.
PasswordSources systemPasswordSources();

// The credentials a network command logs on with. The -A file, read here, fills in only when
// no -U was given. A named user without a password gets one from PASSWD, PASSWD_FD or
// PASSWD_FILE (in this order), else from the prompt; -N means no password and no prompt, and
// so does Kerberos, whose ticket stands in for the password. -W names the domain of a user
// who names none. Errors: the -A file, the PASSWD_FD descriptor or the PASSWD_FILE file
// cannot be read, or PASSWD_FD is no descriptor number (Io, BadFormat).
Result<Credentials> resolveCredentials(const ConnectionOptions& options, const PasswordSources& sources);

}  // namespace vuv::cli
