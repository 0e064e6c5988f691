// A folder, share or server that could not be listed: discovery and search report each one as
// an event of its own, so that people learn which one and why (reason(error), base/error.h).
//
// Thread safety: a plain value.
#pragma once

#include <string>

#include "base/error.h"

namespace vuv {

struct ListingFailure {
  std::string path;  // network path: \\server, \\server\share or \\server\share\dir
  Error error;
};

// "Could not list <path>: <reason>", the line people read.
inline std::string failureText(const ListingFailure& failure) {
  return "Could not list " + failure.path + ": " + reason(failure.error);
}

}  // namespace vuv
