// Keeps passwords given on the command line out of the process list: /proc/PID/cmdline (what
// ps shows every local user) reads the argument memory itself, so the password is overwritten
// there in place. Call it once the arguments have been copied, before anything else runs;
// until then the password is visible, which is why -A FILE, PASSWD_FILE or the prompt are safer.
#pragma once

#include <string>
#include <vector>

namespace vuv::cli {

// Overwrites with NUL bytes the PASSWORD of -U USER%PASSWORD, -UUSER%PASSWORD,
// --user[=]USER%PASSWORD (also inside grouped flags: -NUjoe%pw) and --password[=]PASSWORD.
// Reads the arguments as the parser does and stops at "--". Not thread-safe (argv is global).
void wipePasswordArguments(int argc, char** argv);

// Overwrites the copies of the arguments taken before that wipe, once they are parsed: they
// hold the same passwords. Leaves them empty.
void wipeArgumentCopies(std::vector<std::string>& copies);

}  // namespace vuv::cli
