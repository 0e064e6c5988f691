#include "wsd/netbios_name_query.h"

namespace vuv::wsd {

namespace {

constexpr std::size_t kNameLength = 15;    // the 16th byte is the service suffix
constexpr unsigned char kFileServer = 0x20;
constexpr std::uint16_t kTypeNb = 0x0020;
constexpr std::uint16_t kClassIn = 0x0001;
constexpr std::size_t kHeader = 12;

void put16(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

std::uint16_t get16(std::string_view in, std::size_t at) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(in[at]) << 8) |
                                    static_cast<unsigned char>(in[at + 1]));
}

// The first-level encoding: name upper-cased and padded to 15 bytes, the suffix, each byte as
// two letters 'A'+nibble; a length byte before, the empty scope after.
std::string encodedName(std::string_view name) {
  std::string padded(kNameLength, ' ');
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    padded[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  padded += static_cast<char>(kFileServer);
  std::string out(1, static_cast<char>(2 * padded.size()));
  for (const unsigned char c : padded) {
    out += static_cast<char>('A' + (c >> 4));
    out += static_cast<char>('A' + (c & 0x0F));
  }
  out += '\0';
  return out;
}

bool usableName(std::string_view name) {
  return !name.empty() && name.size() <= kNameLength && name.find('.') == std::string_view::npos;
}

}  // namespace

std::string netbiosQuery(std::string_view name, std::uint16_t id) {
  if (!usableName(name)) return {};
  std::string packet;
  put16(packet, id);
  put16(packet, 0x0110);  // a query, recursion desired, broadcast
  put16(packet, 1);       // one question
  put16(packet, 0);
  put16(packet, 0);
  put16(packet, 0);
  packet += encodedName(name);
  put16(packet, kTypeNb);
  put16(packet, kClassIn);
  return packet;
}

std::optional<std::string> netbiosAnswer(std::string_view packet, std::string_view name,
                                         std::uint16_t id) {
  if (!usableName(name) || packet.size() < kHeader) return std::nullopt;
  const std::uint16_t flags = get16(packet, 2);
  const bool response = (flags & 0x8000) != 0;
  const unsigned opcode = (flags >> 11) & 0x0F;
  const unsigned rcode = flags & 0x0F;
  if (get16(packet, 0) != id || !response || opcode != 0 || rcode != 0 || get16(packet, 6) == 0) {
    return std::nullopt;
  }
  // The answer names the name asked for (in full: name servers do not compress it).
  const std::string wanted = encodedName(name);
  std::size_t at = kHeader;
  if (get16(packet, 4) != 0) return std::nullopt;  // a positive answer repeats no question
  if (packet.substr(at, wanted.size()) != wanted) return std::nullopt;
  at += wanted.size();
  if (packet.size() < at + 10) return std::nullopt;
  if (get16(packet, at) != kTypeNb || get16(packet, at + 2) != kClassIn) return std::nullopt;
  const std::uint16_t length = get16(packet, at + 8);
  at += 10;
  if (length < 6 || length % 6 != 0 || packet.size() < at + length) return std::nullopt;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(packet[at + 2 + i])); };
  const unsigned first = byte(0);
  const bool unusable = first == 0 || first == 127 || first >= 224;
  if (unusable) return std::nullopt;
  return std::to_string(first) + "." + std::to_string(byte(1)) + "." + std::to_string(byte(2)) + "." +
         std::to_string(byte(3));
}

}  // namespace vuv::wsd
