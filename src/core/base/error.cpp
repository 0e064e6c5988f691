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
    case ECONNABORTED:
      return ErrorCode::ConnectionLost;
    case ENONET:
    case ENOTUNIQ:
      return ErrorCode::UnknownHost;
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
    case ErrorCode::UnknownHost: return ENONET;
    case ErrorCode::ConnectionLost: return ECONNABORTED;
    case ErrorCode::ProtocolNotAllowed: return EPROTONOSUPPORT;
    case ErrorCode::NoKerberosTicket: return ENOKEY;
    case ErrorCode::Protocol: return EPROTO;
    case ErrorCode::InvalidArgument: return EINVAL;
    case ErrorCode::Cancelled: return ECANCELED;
    case ErrorCode::Busy: return EBUSY;
    case ErrorCode::AlreadyExists: return EEXIST;
    case ErrorCode::UnsafeName: return EINVAL;
    case ErrorCode::LinkLoop: return ELOOP;
    case ErrorCode::TooManyEntries:
    case ErrorCode::TooBig: return E2BIG;
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
    case ErrorCode::UnknownHost:
      return "no host of that name (the hosts file, DNS, NetBIOS and WS-Discovery do not know it)";
    case ErrorCode::ConnectionLost: return "the server ended the connection";
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
    case ErrorCode::AlreadyExists: return "a file or folder of that name is already there";
    case ErrorCode::LocalWrite: return "the local copy could not be written";
    case ErrorCode::EndedEarly: return "the file ended early (fewer bytes arrived than it held)";
    case ErrorCode::FileChanged: return "the file grew while it was being copied";
    case ErrorCode::UnsafeName: return "the name cannot be used on this computer";
    case ErrorCode::LinkLoop: return "the folder leads back into a folder above it (a link loop)";
    case ErrorCode::TooManyEntries: return "too many entries: listed only in part";
    case ErrorCode::TooBig: return "too big to copy";
    case ErrorCode::Other: return "failed";
  }
  return "failed";
}

// Why the local side of a copy failed, in the words of the one who sits at it; null when the
// system's own words must do.
const char* localSummary(int systemCode) {
  switch (systemCode) {
    case ENOSPC: return "no space left on the local disk";
    case EDQUOT: return "the disk quota on the local disk is used up";
    case EACCES:
    case EPERM: return "no permission to write in the local folder";
    case EROFS: return "the local disk is read-only";
    case ENOENT: return "the destination folder does not exist";
    case ENOTDIR: return "the destination is not a folder";
    case ENAMETOOLONG: return "the local name would be too long";
    case EIO: return "the local disk reported an input/output error";
    default: return nullptr;
  }
}

// Words for an error whose system code says more than its code's summary: the local side of a
// copy, a name the address book refused to believe (HostAddressBook::hostFor). Null when the
// summary must do.
const char* particularSummary(const Error& error) {
  if (error.code == ErrorCode::LocalWrite) return localSummary(error.systemCode);
  if (error.code == ErrorCode::UnknownHost && error.systemCode == ENOTUNIQ) {
    return "more than one host claims that name, so none is believed";
  }
  return nullptr;
}

}  // namespace

std::string reason(const Error& error) {
  // A server that refuses the protocol versions we may use (an SMB1-only host when SMB1 is off):
  // the words name the setting that allows it.
  if (error.code == ErrorCode::ProtocolNotAllowed || error.systemCode == EPROTONOSUPPORT) {
    return std::string("protocol not allowed: ") + summary(ErrorCode::ProtocolNotAllowed);
  }
  if (const char* words = particularSummary(error)) return words;
  switch (error.code) {
    case ErrorCode::NoKerberosTicket: return summary(error.code);
    case ErrorCode::NotFound: return "not found";
    case ErrorCode::AccessDenied: return "access denied";
    case ErrorCode::Timeout: return "timed out";
    case ErrorCode::Unreachable: return "host unreachable";
    case ErrorCode::UnknownHost: return "unknown host";
    case ErrorCode::ConnectionLost: return "connection lost";
    case ErrorCode::WorkerCrashed: return "worker crashed";
    case ErrorCode::Cancelled: return "stopped";
    default: break;
  }
  if (error.systemCode != 0) return std::strerror(error.systemCode);
  return summary(error.code);
}

std::string describe(const Error& error) {
  std::string text = error.detail.empty() ? std::string() : error.detail + ": ";
  if (const char* words = particularSummary(error)) return text + words;
  text += summary(error.code);
  // Their summary says it all; the system's words would only blur it.
  const bool plain = error.code == ErrorCode::Timeout || error.code == ErrorCode::ProtocolNotAllowed ||
                     error.code == ErrorCode::NoKerberosTicket || error.code == ErrorCode::AlreadyExists ||
                     error.code == ErrorCode::ConnectionLost || error.code == ErrorCode::UnknownHost ||
                     error.code == ErrorCode::LinkLoop || error.code == ErrorCode::UnsafeName ||
                     error.code == ErrorCode::TooManyEntries || error.code == ErrorCode::TooBig ||
                     // "access denied (Permission denied)" says the same thing twice.
                     (error.code == ErrorCode::AccessDenied && (error.systemCode == EACCES || error.systemCode == EPERM)) ||
                     (error.code == ErrorCode::NotFound && error.systemCode == ENOENT);
  if (error.systemCode != 0 && !plain) {
    text += " (";
    text += std::strerror(error.systemCode);
    text += ")";
  }
  return text;
}

}  // namespace vuv
