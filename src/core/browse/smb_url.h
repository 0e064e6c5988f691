// smb:// URLs for the SMB workers, built from browse names and UNC paths, and read back.
//
// Every name becomes one percent-encoded path component (libsmbclient decodes %XX), so spaces,
// '#', '%', '?' and non-ASCII UTF-8 names reach the server unchanged. With an address book the
// server is named by what the book says to connect to (its address, looked up once), so the
// worker never resolves it again. Thread-safe (the address book is).
#pragma once

#include <stop_token>
#include <string>
#include <string_view>

#include "base/result.h"
#include "browse/host_address_book.h"

namespace vuv {

inline constexpr std::string_view kSmbUrlScheme = "smb://";

// "smb://" for the empty name (the network: its workgroups), else "smb://NAME" (a workgroup's
// servers, or a server's shares).
std::string smbUrlForName(std::string_view name);

// smb://SERVER for a server's shares, SERVER as `book` (may be null) places it
// (HostAddressBook::hostFor: UnknownHost, Cancelled).
Result<std::string> smbUrlForServer(std::string_view server, HostAddressBook* book,
                                    std::stop_token stop = {});

// \\server, \\server\share or \\server\share\dir\file -> smb://server/share/dir/file.
// One trailing backslash is allowed. InvalidArgument for anything else: no leading "\\",
// empty server, empty components ("a\\b"), and "." or ".." components.
Result<std::string> smbUrlFromUnc(std::string_view unc);
// The same with the server placed by `book` (may be null) as in smbUrlForServer.
Result<std::string> smbUrlFromUnc(std::string_view unc, HostAddressBook* book,
                                  std::stop_token stop = {});

// `url` (from smbUrlFromUnc) naming `host` in place of its server.
std::string smbUrlWithHost(std::string_view url, std::string_view host);

// Path component `index` of an smb:// URL, percent-decoded: 0 is the server (or workgroup),
// 1 the share. Empty when the URL has no such component.
std::string smbUrlComponent(std::string_view url, std::size_t index);

}  // namespace vuv
