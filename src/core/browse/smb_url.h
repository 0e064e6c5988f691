// smb:// URLs for the SMB workers, built from browse names and UNC paths, and read back.
//
// Every name becomes one percent-encoded path component (libsmbclient decodes %XX), so spaces,
// '#', '%', '?' and non-ASCII UTF-8 names reach the server unchanged. A server whose address the
// address book knows is reached at that address (it may have no NetBIOS name to look up).
// Pure functions (the address book is thread-safe); thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "browse/host_address_book.h"

namespace vuv {

inline constexpr std::string_view kSmbUrlScheme = "smb://";

// "smb://" for the empty name (the network: its workgroups), else "smb://NAME" (a workgroup's
// servers, or a server's shares).
std::string smbUrlForName(std::string_view name);

// smb://SERVER for a server's shares: its address when `book` (may be null) knows one.
std::string smbUrlForServer(std::string_view server, const HostAddressBook* book);

// \\server, \\server\share or \\server\share\dir\file -> smb://server/share/dir/file.
// One trailing backslash is allowed. InvalidArgument for anything else: no leading "\\",
// empty server, empty components ("a\\b"), and "." or ".." components.
Result<std::string> smbUrlFromUnc(std::string_view unc);
// The same with the server replaced by its address when `book` (may be null) knows one.
Result<std::string> smbUrlFromUnc(std::string_view unc, const HostAddressBook* book);

// Path component `index` of an smb:// URL, percent-decoded: 0 is the server (or workgroup),
// 1 the share. Empty when the URL has no such component.
std::string smbUrlComponent(std::string_view url, std::size_t index);

}  // namespace vuv
