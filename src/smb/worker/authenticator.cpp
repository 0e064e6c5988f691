#include "smb/worker/authenticator.h"

#include <algorithm>
#include <cctype>

namespace vuv::smb {

namespace {

// NetBIOS and DNS names compare without regard to ASCII case.
std::string serverKey(std::string_view server) {
  std::string key(server);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return key;
}

// Copies with truncation; the buffer always ends up NUL-terminated.
void fill(char* buffer, int size, const std::string& value) {
  if (buffer == nullptr || size <= 0) return;
  const std::size_t n = std::min(value.size(), static_cast<std::size_t>(size) - 1);
  value.copy(buffer, n);
  buffer[n] = '\0';
}

}  // namespace

void Authenticator::callback(SMBCCTX* context, const char* server, const char* share,
                             char* domain, int domainSize, char* user, int userSize,
                             char* password, int passwordSize) {
  auto* self = static_cast<Authenticator*>(smbc_getOptionUserData(context));
  static const Credentials kAnonymous;
  const Credentials* credentials = &kAnonymous;
  if (self != nullptr) {
    self->lastServer_ = server != nullptr ? server : "";
    self->lastShare_ = share != nullptr ? share : "";
    credentials = &self->credentialsFor(self->lastServer_, self->lastShare_);
  }
  const Credentials given = self != nullptr ? self->forLibrary(*credentials) : *credentials;
  fill(domain, domainSize, given.domain);
  fill(user, userSize, given.user);
  fill(password, passwordSize, given.password);
}

Credentials Authenticator::forLibrary(const Credentials& credentials) const {
  if (kerberos_ == KerberosUse::Off) return credentials;
  Credentials out = credentials;
  if (out.user.empty()) out.user = loginName_;
  if (kerberos_ == KerberosUse::Required && out.user.find('@') == std::string::npos) out.user += '@';
  return out;
}

const Credentials& Authenticator::credentialsFor(std::string_view server, std::string_view share) const {
  const std::string key = serverKey(server);
  if (const auto it = perPlace_.find({key, std::string(share)}); it != perPlace_.end()) return it->second;
  if (const auto it = perPlace_.find({key, std::string()}); it != perPlace_.end()) return it->second;
  return given_;
}

void Authenticator::remember(std::string_view server, std::string_view share, Credentials credentials) {
  perPlace_[{serverKey(server), std::string(share)}] = std::move(credentials);
}

void Authenticator::forget(std::string_view server, std::string_view share) {
  perPlace_.erase({serverKey(server), std::string(share)});
}

void Authenticator::forgetLastAsked() {
  lastServer_.clear();
  lastShare_.clear();
}

}  // namespace vuv::smb
