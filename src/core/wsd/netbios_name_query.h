// NetBIOS name queries (RFC 1002): the broadcast question "which address has NAME<20>?" (the
// file server service) and the reading of its answers. No sockets here.
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vuv::wsd {

inline constexpr std::uint16_t kNetbiosNamePort = 137;

// The query packet; empty when `name` cannot be a NetBIOS name (empty, longer than 15 bytes,
// or holding a dot: a DNS name).
std::string netbiosQuery(std::string_view name, std::uint16_t id);

// The first address of a positive answer to query `id` for `name`: a dotted IPv4 address a
// server may have (not 0.0.0.0, loopback, multicast or broadcast). nullopt for anything else.
std::optional<std::string> netbiosAnswer(std::string_view packet, std::string_view name,
                                         std::uint16_t id);

}  // namespace vuv::wsd
