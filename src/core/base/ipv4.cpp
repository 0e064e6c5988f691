#include "base/ipv4.h"

namespace vuv {

std::optional<std::array<std::uint8_t, 4>> parseIpv4(std::string_view text) {
  std::array<std::uint8_t, 4> out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::size_t dot = i < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const std::string_view part = text.substr(0, dot);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part.front() == '0')) return std::nullopt;
    unsigned value = 0;
    for (const char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(value);
    text.remove_prefix(i < 3 ? dot + 1 : dot);
  }
  return out;
}

}  // namespace vuv
