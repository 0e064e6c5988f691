// Who we are to SMB servers, and the hook that asks the user when a server wants to know.
//
// Credentials are plain values; an empty user name means anonymous (guest) access.
// Thread safety: Credentials is a value. CredentialPrompt implementations must accept calls
// from several threads at once (each SMB request asks on its own thread).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vuv {

struct Credentials {
  std::string domain;  // may be empty: the server's own domain or workgroup
  std::string user;    // empty: anonymous
  std::string password;

  bool anonymous() const { return user.empty(); }
};

// Asked when a server refuses anonymous access and no credentials were given for it.
class CredentialPrompt {
 public:
  virtual ~CredentialPrompt() = default;

  // Credentials to try once for `share` on `server` (share may be empty: the server's share
  // list), or nullopt to give up, which fails the request with AccessDenied. May block while
  // a person answers; the request's time limit does not run meanwhile.
  virtual std::optional<Credentials> credentialsFor(std::string_view server,
                                                    std::string_view share) = 0;
};

}  // namespace vuv
