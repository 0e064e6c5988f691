#include "browse/unc_path.h"

namespace vuv {

std::vector<std::string_view> uncComponents(std::string_view unc) {
  std::vector<std::string_view> parts;
  if (unc.substr(0, 2) != "\\\\") return parts;
  unc.remove_prefix(2);
  while (true) {
    const auto cut = unc.find('\\');
    parts.push_back(unc.substr(0, cut));
    if (cut == std::string_view::npos) break;
    unc.remove_prefix(cut + 1);
  }
  return parts;
}

}  // namespace vuv
