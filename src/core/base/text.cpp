#include "base/text.h"

#include "base/casefold.h"

namespace vuv {

bool lessForDisplay(std::string_view a, std::string_view b) {
  if (const int order = compareIgnoringCase(a, b); order != 0) return order < 0;
  return a < b;
}

}  // namespace vuv
