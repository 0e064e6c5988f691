#include "browse/host_address_book.h"

#include "base/casefold.h"
#include "base/ipv4.h"

namespace vuv {

bool HostAddressBook::set(std::string_view name, std::string_view address) {
  if (name.empty() || !parseIpv4(address)) return false;
  std::lock_guard lock(mutex_);
  addresses_[foldCaseUtf8(name)] = std::string(address);
  return true;
}

std::optional<std::string> HostAddressBook::lookup(std::string_view name) const {
  const std::string key = foldCaseUtf8(name);
  std::lock_guard lock(mutex_);
  if (auto it = addresses_.find(key); it != addresses_.end()) return it->second;
  return std::nullopt;
}

void HostAddressBook::clear() {
  std::lock_guard lock(mutex_);
  addresses_.clear();
}

std::size_t HostAddressBook::size() const {
  std::lock_guard lock(mutex_);
  return addresses_.size();
}

}  // namespace vuv
