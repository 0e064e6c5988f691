#include "browse/unc_path.h"

namespace vuv {

std::vector<std::string_view> splitAtBackslashes(std::string_view text) {
  std::vector<std::string_view> parts;
  while (true) {
    const auto cut = text.find('\\');
    parts.push_back(text.substr(0, cut));
    if (cut == std::string_view::npos) return parts;
    text.remove_prefix(cut + 1);
  }
}

std::vector<std::string_view> uncComponents(std::string_view unc) {
  if (unc.substr(0, 2) != "\\\\") return {};
  return splitAtBackslashes(unc.substr(2));
}

}  // namespace vuv
