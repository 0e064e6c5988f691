#include "browse/kerberos_ticket.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vuv {

bool ticketCachePresent(std::optional<std::string_view> krb5ccname, unsigned uid,
                        const FileExists& exists) {
  std::string name = krb5ccname && !krb5ccname->empty() ? std::string(*krb5ccname)
                                                        : "FILE:/tmp/krb5cc_" + std::to_string(uid);
  if (name.rfind("FILE:", 0) == 0) {
    name.erase(0, 5);
  } else if (name.find(':') != std::string::npos) {
    return true;
  }
  return exists(name);
}

bool ticketCachePresent(unsigned uid) {
  const char* name = std::getenv("KRB5CCNAME");
  return ticketCachePresent(name != nullptr ? std::optional<std::string_view>(name) : std::nullopt, uid,
                            [](const std::string& path) {
                              std::error_code error;
                              return std::filesystem::exists(path, error);
                            });
}

}  // namespace vuv
