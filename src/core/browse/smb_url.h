// smb:// URLs for the SMB workers, built from browse names and UNC paths, and read back.
//
// Every name becomes one percent-encoded path component (libsmbclient decodes %XX), so spaces,
// '#', '%', '?' and non-ASCII UTF-8 names reach the server unchanged. Pure functions;
// thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace vuv {

inline constexpr std::string_view kSmbUrlScheme = "smb://";

// "smb://" for the empty name (the network: its workgroups), else "smb://NAME" (a workgroup's
// servers, or a server's shares).
std::string smbUrlForName(std::string_view name);

// \\server, \\server\share or \\server\share\dir\file -> smb://server/share/dir/file.
// One trailing backslash is allowed. InvalidArgument for anything else: no leading "\\",
// empty server, empty components ("a\\b"), and "." or ".." components.
Result<std::string> smbUrlFromUnc(std::string_view unc);

// Path component `index` of an smb:// URL, percent-decoded: 0 is the server (or workgroup),
// 1 the share. Empty when the URL has no such component.
std::string smbUrlComponent(std::string_view url, std::size_t index);

}  // namespace vuv
