// Small text helpers shared by the core. All text is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace vuv {

// Alphabetical order for names shown side by side (domains, servers): letter case is ignored,
// and names equal but for case fall back to byte order so the order is total and stable.
bool lessForDisplay(std::string_view a, std::string_view b);

}  // namespace vuv
