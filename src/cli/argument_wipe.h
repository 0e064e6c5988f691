// Keeps passwords given on the command line out of the process list: /proc/PID/cmdline (what
// ps shows every local user) reads the argument memory itself, so the password is overwritten
// there in place. Call it once the arguments have been copied, before anything else runs;
// until then the password is visible, which is why -A FILE, PASSWD_FILE or the prompt are safer.
#pragma once

#include <string>
#include <vector>

#include "base/secret.h"

namespace vuv::cli {

// Overwrites with NUL bytes the PASSWORD of -U USER%PASSWORD, -UUSER%PASSWORD,
// --user[=]USER%PASSWORD (also inside grouped flags: -NUjoe%pw) and --password[=]PASSWORD.
// Reads the arguments as the parser does and stops at "--". Not thread-safe (argv is global).
void wipePasswordArguments(int argc, char** argv);

// Overwrites the copies of the arguments taken before that wipe, once they are parsed: they
// hold the same passwords. Leaves them empty.
void wipeArgumentCopies(std::vector<std::string>& copies);

// The passwords cut out of arguments (those wipePasswordArguments finds), of each option the
// last one, as the parser takes the last. Overwritten when it goes.
struct ArgumentPasswords {
  std::string user;      // after the '%' of -U/--user
  std::string password;  // of --password
  ~ArgumentPasswords() {
    wipeSecret(user);
    wipeSecret(password);
  }
};

// Cuts the passwords out of `args` (no program name), overwriting them there: what is left
// may go to a parser, whose copies are freed as they are.
ArgumentPasswords takePasswordArguments(std::vector<std::string>& args);

}  // namespace vuv::cli
