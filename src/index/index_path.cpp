#include "index/index_path.h"

#include <cstdlib>

namespace vuv::index {

Result<std::string> defaultIndexPath() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/vuvuveva/index.sqlite";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    return makeError(ErrorCode::NotFound, "the index's folder: neither XDG_CACHE_HOME nor HOME is set");
  }
  return std::string(home) + "/.cache/vuvuveva/index.sqlite";
}

}  // namespace vuv::index
