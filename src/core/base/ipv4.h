// IPv4 addresses as text. Shared by the address book and the WS-Discovery messages, so it sits
// below both. Pure functions; thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vuv {

// Dotted-quad IPv4 address: four decimal numbers 0-255 without leading zeros.
std::optional<std::array<std::uint8_t, 4>> parseIpv4(std::string_view text);

}  // namespace vuv
