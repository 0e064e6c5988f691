// Where the index of names lives: one database per user, in the user's cache folder.
// Thread-safe (reads the environment only).
#pragma once

#include <string>

#include "base/result.h"

namespace vuv::index {

// $XDG_CACHE_HOME/vuvuveva/index.sqlite, or ~/.cache/vuvuveva/index.sqlite when that is unset
// or not absolute. NotFound when neither it nor HOME is set.
Result<std::string> defaultIndexPath();

}  // namespace vuv::index
