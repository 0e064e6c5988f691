// Where the SMB worker executable is found when the caller names none. Thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vuv::smb {

inline constexpr std::string_view kWorkerExecutableName = "vuvuveva-smb-worker";
// Where `cmake --install` puts the worker, from the directory of the installed programs: a
// helper program stays out of the PATH.
inline constexpr std::string_view kInstalledWorkerDir = "../libexec/vuvuveva";

// Beside the running executable if it is there, else in kInstalledWorkerDir from it (an
// installed program), else, for a program of the build tree only, where this build put it, else
// the path beside the executable, where it is missing (starting it then fails with "not
// found"). Always an absolute path. An installed program never starts a build tree's worker,
// which may be of another version.
std::string defaultWorkerPath();

}  // namespace vuv::smb
