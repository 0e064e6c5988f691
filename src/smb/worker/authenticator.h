// The worker's source of credentials for libsmbclient's auth callback.
//
// Holds the credentials from the parent's Hello and those the parent gave later for single
// servers. The C callback finds its Authenticator through the context's user data, and always
// fills all three buffers (empty strings for anonymous/guest: libsmbclient reads them even
// then). Single-threaded, like everything that touches libsmbclient.
#pragma once

#include <libsmbclient.h>

#include <map>
#include <string>
#include <string_view>

#include "browse/credentials.h"

namespace vuv::smb {

class Authenticator {
 public:
  explicit Authenticator(Credentials given) : given_(std::move(given)) {}
  Authenticator(const Authenticator&) = delete;
  Authenticator& operator=(const Authenticator&) = delete;

  // For smbc_setFunctionAuthDataWithContext; the context's user data must be this object.
  static void callback(SMBCCTX* context, const char* server, const char* share, char* domain,
                       int domainSize, char* user, int userSize, char* password,
                       int passwordSize);

  // Those the parent gave for `server`, else those of the Hello (maybe anonymous).
  const Credentials& credentialsFor(std::string_view server) const;
  void remember(std::string_view server, Credentials credentials);
  void forget(std::string_view server);

  // Where libsmbclient last asked for credentials: the server a request really reached (for
  // smb://WORKGROUP, its master browser).
  const std::string& lastServer() const { return lastServer_; }
  const std::string& lastShare() const { return lastShare_; }
  void forgetLastAsked();

 private:
  Credentials given_;
  std::map<std::string, Credentials> perServer_;  // key: server name in lower case
  std::string lastServer_;
  std::string lastShare_;
};

}  // namespace vuv::smb
