// Where the SMB worker executable is found when the caller names none. Thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vuv::smb {

inline constexpr std::string_view kWorkerExecutableName = "vuvuveva-smb-worker";

// Beside the running executable (an installed program) if it is there, else where this build
// put it, else the bare name (starting it then fails with "not found").
std::string defaultWorkerPath();

}  // namespace vuv::smb
