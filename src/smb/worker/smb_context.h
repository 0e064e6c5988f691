// One libsmbclient context (SMBCCTX) and RAII owners for the handles it opens.
//
// A context is set up for one protocol range (browsing needs NT1; shares and files use the
// range the user's smb.conf allows), a per-request timeout, Kerberos use, and an Authenticator
// reached through the context's user data. libsmbclient keeps the protocol range and the
// loaded smb.conf process-wide, not per context, so each open applies its context's range
// again; connections already made keep what they negotiated.
// Handles must die before their context. libsmbclient is not thread-safe: one thread.
#pragma once

#include <libsmbclient.h>

#include <memory>
#include <string>

#include "base/result.h"
#include "smb/worker/kerberos_use.h"

namespace vuv::smb {

class Authenticator;

struct ContextSettings {
  std::string minProtocol;
  std::string maxProtocol;
  int timeoutMs = 0;        // 0: libsmbclient's default
  int debugLevel = 0;       // libsmbclient's log, on stderr
  KerberosUse kerberos = KerberosUse::Off;
  std::string configFile;   // loaded on top of the user's smb.conf; empty: none
};

struct DirCloser {
  SMBCCTX* context;
  void operator()(SMBCFILE* dir) const { smbc_getFunctionClosedir(context)(context, dir); }
};
struct FileCloser {
  SMBCCTX* context;
  void operator()(SMBCFILE* file) const { smbc_getFunctionClose(context)(context, file); }
};
using DirHandle = std::unique_ptr<SMBCFILE, DirCloser>;
using FileHandle = std::unique_ptr<SMBCFILE, FileCloser>;

// libsmbclient waits for its replies in an event loop it makes for the call and frees after.
// With the event library's default (epoll) each folder listed made an epoll instance, added
// and removed the socket 8 times and closed it: some 21 system calls against 9 poll() calls,
// and a loop of one socket loses nothing by poll(). Call before any context is made; forked
// workers inherit the choice.
void useLightEventLoops();

class SmbContext {
 public:
  // `authenticator` must outlive the context.
  static Result<SmbContext> create(const ContextSettings& settings, Authenticator& authenticator);

  // Null with errno set on failure. (libsmbclient can also give null with errno 0: see the
  // caller.)
  DirHandle openDir(const std::string& url);
  FileHandle openFile(const std::string& url);

  smbc_dirent* readDir(SMBCFILE* dir);
  // The next entry of an open folder's listing (held whole in memory since the open); with
  // `status`, also its stat, file id included, at a cost (request_handler.cpp).
  const libsmb_file_info* readDirPlus(SMBCFILE* dir);
  const libsmb_file_info* readDirPlus(SMBCFILE* dir, struct stat* status);
  // Back to the listing's first entry, for the readDir and readDirPlus calls alike. False
  // with errno set on failure.
  bool rewindDir(SMBCFILE* dir);
  ssize_t read(SMBCFILE* file, char* buffer, std::size_t size);
  // 0, or -1 with errno set.
  int stat(SMBCFILE* file, struct stat* status);

  // Drops cached server connections, so that new credentials take effect.
  void forgetConnections();

 private:
  struct Freer {
    void operator()(SMBCCTX* context) const { smbc_free_context(context, 1); }
  };
  SmbContext(SMBCCTX* context, const ContextSettings& settings)
      : context_(context), settings_(settings) {}
  void applyProtocols();

  std::unique_ptr<SMBCCTX, Freer> context_;
  ContextSettings settings_;
};

}  // namespace vuv::smb
