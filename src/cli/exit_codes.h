// The command line tool's exit codes, documented in the README and in --help.
#pragma once

namespace vuv::cli {

enum class ExitCode : int {
  Success = 0,
  NothingFound = 1,     // a search that completed and found no row
  Usage = 2,            // the arguments are not understood
  FileError = 3,        // a tree file, credentials file or local copy cannot be read, parsed or written
  NetworkError = 4,     // SMB access could not start, the location is unknown or unlistable, or a copy's read failed
  AlreadyExists = 5,    // copy: the name is taken in the destination folder (no --replace)
  Interrupted = 130,    // stopped by Ctrl+C (128 + SIGINT)
};

inline int toInt(ExitCode code) { return static_cast<int>(code); }

}  // namespace vuv::cli
