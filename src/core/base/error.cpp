#include "base/error.h"

#include <cerrno>
#include <cstring>

namespace vuv {

ErrorCode errorCodeFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
      return ErrorCode::NotFound;
    case EACCES:
    case EPERM:
      return ErrorCode::AccessDenied;
    case ETIMEDOUT:
      return ErrorCode::Timeout;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ECONNREFUSED:
    case ECONNRESET:
    case EHOSTDOWN:
      return ErrorCode::Unreachable;
    case EINVAL:
      return ErrorCode::InvalidArgument;
    case ECANCELED:
      return ErrorCode::Cancelled;
    case EPROTONOSUPPORT:
      return ErrorCode::ProtocolNotAllowed;
    case ENOKEY:
      return ErrorCode::NoKerberosTicket;
    default:
      return ErrorCode::Other;
  }
}

int errnoFromError(const Error& error) {
  if (error.systemCode != 0) return error.systemCode;
  switch (error.code) {
    case ErrorCode::NotFound: return ENOENT;
    case ErrorCode::AccessDenied: return EACCES;
    case ErrorCode::Timeout: return ETIMEDOUT;
    case ErrorCode::Unreachable: return EHOSTUNREACH;
    case ErrorCode::ProtocolNotAllowed: return EPROTONOSUPPORT;
    case ErrorCode::NoKerberosTicket: return ENOKEY;
    case ErrorCode::Protocol: return EPROTO;
    case ErrorCode::InvalidArgument: return EINVAL;
    case ErrorCode::Cancelled: return ECANCELED;
    case ErrorCode::Busy: return EBUSY;
    default: return EIO;
  }
}

namespace {

const char* summary(ErrorCode code) {
  switch (code) {
    case ErrorCode::NotFound: return "not found";
    case ErrorCode::AccessDenied: return "access denied";
    case ErrorCode::Timeout: return "no answer in time";
    case ErrorCode::Unreachable: return "cannot be reached";
    case ErrorCode::ProtocolNotAllowed:
      return "the server speaks only SMB1 (NT1); allow it with `client min protocol = NT1` in "
             "smb.conf";
    case ErrorCode::NoKerberosTicket:
      return "Kerberos is required, but there is no ticket (get one with kinit)";
    case ErrorCode::WorkerCrashed: return "the network helper process stopped unexpectedly";
    case ErrorCode::Protocol: return "unexpected answer";
    case ErrorCode::InvalidArgument: return "invalid input";
    case ErrorCode::Io: return "read or write failed";
    case ErrorCode::BadFormat: return "not in the expected format";
    case ErrorCode::Busy: return "busy with another operation";
    case ErrorCode::Cancelled: return "stopped";
    case ErrorCode::Other: return "failed";
  }
  return "failed";
}

}  // namespace

std::string reason(const Error& error) {
  // A server that refuses the protocol versions we may use (an SMB1-only host when SMB1 is off):
  // the words name the setting that allows it.
  if (error.code == ErrorCode::ProtocolNotAllowed || error.systemCode == EPROTONOSUPPORT) {
    return std::string("protocol not allowed: ") + summary(ErrorCode::ProtocolNotAllowed);
  }
  switch (error.code) {
    case ErrorCode::NoKerberosTicket: return summary(error.code);
    case ErrorCode::NotFound: return "not found";
    case ErrorCode::AccessDenied: return "access denied";
    case ErrorCode::Timeout: return "timed out";
    case ErrorCode::Unreachable: return "host unreachable";
    case ErrorCode::WorkerCrashed: return "worker crashed";
    case ErrorCode::Cancelled: return "stopped";
    default: break;
  }
  if (error.systemCode != 0) return std::strerror(error.systemCode);
  return summary(error.code);
}

std::string describe(const Error& error) {
  std::string text = error.detail.empty() ? std::string() : error.detail + ": ";
  text += summary(error.code);
  // Their summary says it all; the system's words would only blur it.
  const bool plain = error.code == ErrorCode::Timeout || error.code == ErrorCode::ProtocolNotAllowed ||
                     error.code == ErrorCode::NoKerberosTicket;
  if (error.systemCode != 0 && !plain) {
    text += " (";
    text += std::strerror(error.systemCode);
    text += ")";
  }
  return text;
}

}  // namespace vuv
