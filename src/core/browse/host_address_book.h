// Server name -> IPv4 address for hosts that no NetBIOS name lookup finds (NetBIOS disabled,
// announced by WS-Discovery only). The SMB adapters put the address into the URL in place of
// the name; people still see and type the name. Names are compared ignoring case.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vuv {

class HostAddressBook {
 public:
  // Records or replaces the address of `name`. False (and nothing recorded) unless `address`
  // is a dotted IPv4 address and `name` is not empty.
  bool set(std::string_view name, std::string_view address);
  std::optional<std::string> lookup(std::string_view name) const;
  void clear();
  std::size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> addresses_;  // case-folded name -> address
};

}  // namespace vuv
