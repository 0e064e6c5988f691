// Who we are to SMB servers, and the hook that asks the user when a server wants to know.
//
// Credentials are plain values; an empty user name means anonymous (guest) access. Every copy
// overwrites its password when it goes.
// Thread safety: Credentials is a value. CredentialPrompt implementations must accept calls
// from several threads at once (each SMB request asks on its own thread).
//
// Stop rule: a prompt may still be open on one thread when another thread stops the run or
// closes the program, and that thread may be the one the prompt needs (a window's). So
// credentialsFor() must return nullopt promptly once `stop` is requested (close its dialog,
// stop reading the terminal) and must never wait for the run's own threads; otherwise stop
// and close would wait for a person.
#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "base/secret.h"

namespace vuv {

struct Credentials {
  std::string domain;  // may be empty: the server's own domain or workgroup
  std::string user;    // empty: anonymous
  std::string password;

  // No constructor of its own, so it stays an aggregate; copies stand in for moves.
  ~Credentials() { wipeSecret(password); }

  bool anonymous() const { return user.empty(); }
  bool operator==(const Credentials&) const = default;
};

// Whether SMB logons use the Kerberos ticket cache (KRB5CCNAME), as the user chose it.
enum class KerberosUse {
  Off,       // NTLM only
  Desired,   // the ticket when there is one, else NTLM
  Required,  // the ticket only
};

// What a person answered: the credentials, and whether the session may offer them again.
struct CredentialAnswer {
  Credentials credentials;
  // True: kept for every later request to that server (or share) in this session, never on
  // disk. False: kept only for the run that asked (a search, a discovery, a copy: whatever
  // the program counts as one), never by a worker beyond the request it served.
  bool remember = true;
};

// Why a person is asked.
enum class LogOnReason {
  GuestRefused,        // refused without credentials, or with those a person gave for it
  GivenLogOnRefused,   // refused the credentials the session was given for every server
  ServerLogOnRefused,  // a share refused the log-on its server accepted: it wants its own
};

// Asked when a server refuses anonymous access or the session's credentials and no credentials
// were given for it, or when a share refuses the log-on its server accepted.
class CredentialPrompt {
 public:
  virtual ~CredentialPrompt() = default;

  // Credentials to try once for `share` on `server` (share may be empty: the server's share
  // list), or nullopt to give up, which fails the request with AccessDenied. May block while
  // a person answers; the request's time limit does not run meanwhile, but `stop` (the
  // request's) ends the wait.
  virtual std::optional<CredentialAnswer> credentialsFor(std::string_view server,
                                                         std::string_view share, LogOnReason reason,
                                                         std::stop_token stop) = 0;
};

}  // namespace vuv
