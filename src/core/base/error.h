// Errors as values. Core code never throws across a component boundary: an operation that can
// fail returns Result<T>, and the one function describe() turns an Error into the text a user
// reads. Thread-safe: plain values.
#pragma once

#include <string>

namespace vuv {

enum class ErrorCode {
  NotFound,        // no such server, share, folder or file
  AccessDenied,    // the server refused us (also: needs credentials we do not have)
  Timeout,         // no answer within the request's time limit
  Unreachable,     // the host or its SMB service cannot be reached
  UnknownHost,     // no source of names (hosts file, DNS, NetBIOS, WS-Discovery) places the server
  ConnectionLost,  // the server ended the connection in the middle of the work
  ProtocolNotAllowed,  // the server speaks only SMB1, which the client's smb.conf excludes
  NoKerberosTicket,    // Kerberos is required and the ticket cache holds no ticket
  WorkerCrashed,   // the SMB worker process died while serving the request
  Protocol,        // a peer (worker, server) sent something we cannot understand
  InvalidArgument, // the caller's input is not acceptable
  Io,              // a local file could not be read or written
  BadFormat,       // a file's contents are not what we expect
  Busy,            // the operation cannot run while another one is running
  Cancelled,       // stopped on request
  AlreadyExists,   // a local file or folder of that name is in the way
  LocalWrite,      // the local copy could not be made; systemCode says why (ENOSPC, EROFS...)
  EndedEarly,      // fewer bytes arrived than the file held when it was opened
  FileChanged,     // more bytes arrived than the file held when it was opened
  UnsafeName,      // a name from the network cannot be used as a local name (".", "/"...)
  LinkLoop,        // a folder leads back into a folder above it
  TooManyEntries,  // a folder holds more entries than we take from one listing
  TooBig,          // a copy holds more items, levels or bytes of names than it may
  Other,           // anything else; systemCode and detail say more
};

struct Error {
  ErrorCode code = ErrorCode::Other;
  int systemCode = 0;  // errno-style number when one is known, else 0
  std::string detail;  // what was being done or which object, for the message
};

inline Error makeError(ErrorCode code, std::string detail = {}, int systemCode = 0) {
  return Error{code, systemCode, std::move(detail)};
}

// Maps an errno value from the network or file system to our error code.
ErrorCode errorCodeFromErrno(int err);

// The errno-style number for an error, never 0: its own when it has one, else one that fits
// its code.
int errnoFromError(const Error& error);

// The one place where an error becomes a message for people.
std::string describe(const Error& error);

// Why a folder, share or server could not be listed, in a few words ("access denied", "timed
// out", "worker crashed"...), without the detail: for lines that already name the path.
std::string reason(const Error& error);

}  // namespace vuv
