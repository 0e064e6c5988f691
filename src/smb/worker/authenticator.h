// The worker's source of credentials for libsmbclient's auth callback.
//
// Holds the credentials from the parent's Hello and those the parent gave later for single
// servers, or for single shares that refused their server's. The C callback finds its Authenticator through the context's user data, and always
// fills all three buffers (empty strings for anonymous/guest: libsmbclient reads them even
// then). With Kerberos on, an empty user name would make libsmbclient log on anonymously, so
// the callback names the login name instead, with no password; and with Kerberos required,
// libsmbclient uses the ticket only for a name shaped like a principal (measured: "joe"
// fails, "joe@", "joe@LAB.TEST", even "nobody@LAB.TEST" work), so such a name gets an "@".
// Whatever the name, the server sees the ticket's principal. Single-threaded, like everything
// that touches libsmbclient.
#pragma once

#include <libsmbclient.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "browse/credentials.h"
#include "smb/worker/kerberos_use.h"

namespace vuv::smb {

class Authenticator {
 public:
  explicit Authenticator(Credentials given, KerberosUse kerberos = KerberosUse::Off,
                         std::string loginName = {})
      : given_(std::move(given)), kerberos_(kerberos), loginName_(std::move(loginName)) {}
  Authenticator(const Authenticator&) = delete;
  Authenticator& operator=(const Authenticator&) = delete;

  // For smbc_setFunctionAuthDataWithContext; the context's user data must be this object.
  static void callback(SMBCCTX* context, const char* server, const char* share, char* domain,
                       int domainSize, char* user, int userSize, char* password,
                       int passwordSize);

  // Those the parent gave for `share` on `server`, else for `server`, else those of the Hello
  // (maybe anonymous).
  const Credentials& credentialsFor(std::string_view server, std::string_view share = {}) const;
  // An empty `share`: for every share of the server that has none of its own.
  void remember(std::string_view server, std::string_view share, Credentials credentials);
  void forget(std::string_view server, std::string_view share);

  // Where libsmbclient last asked for credentials: the server a request really reached (for
  // smb://WORKGROUP, its master browser).
  const std::string& lastServer() const { return lastServer_; }
  const std::string& lastShare() const { return lastShare_; }
  void forgetLastAsked();

 private:
  // What the callback hands libsmbclient for these credentials.
  Credentials forLibrary(const Credentials& credentials) const;

  Credentials given_;
  KerberosUse kerberos_;
  std::string loginName_;
  // Key: the server's name in lower case and the share, empty for the whole server.
  std::map<std::pair<std::string, std::string>, Credentials> perPlace_;
  std::string lastServer_;
  std::string lastShare_;
};

}  // namespace vuv::smb
