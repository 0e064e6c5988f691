// Overwrites a secret (a password, or bytes that carry one) before its memory is given back:
// freed memory lingers, and a core dump, swap or a later bug may show it.
//
// Standard C++: volatile stores the compiler may not drop. Thread safety: as the string's.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vuv {

inline void wipeSecret(char* data, std::size_t size) noexcept {
  volatile char* bytes = data;
  for (std::size_t i = 0; i < size; ++i) bytes[i] = '\0';
}

inline void wipeSecret(std::string& secret) noexcept {
  // The whole buffer: a secret that shrank left bytes past its end.
  secret.resize(secret.capacity());
  wipeSecret(secret.data(), secret.size());
  secret.clear();
}

// Puts `value` in `secret`, overwriting the old one first: an assignment may free its buffer.
inline void assignSecret(std::string& secret, std::string_view value) {
  wipeSecret(secret);
  secret.assign(value);
}

}  // namespace vuv
