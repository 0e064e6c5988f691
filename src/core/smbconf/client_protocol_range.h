// The SMB dialects a user's smb.conf allows for shares and files: `client min protocol` and
// `client max protocol`, read the way libsmbclient reads its configuration.
//
// libsmbclient keeps the protocol range process-wide and offers no getter, and the worker must
// switch it to NT1 for browsing; so it reads the user's range here and puts it back for share
// and file requests. Only the [global] section counts; later settings win; `include = FILE`
// is followed (not when FILE holds %-macros, which need a session to expand, nor deeper than
// kMaxIncludeDepth); `config file = FILE` starts over with FILE, as in Samba. Names compare
// without regard to case and spaces; lines may continue with a backslash.
// Thread-safe: pure functions over the reader they are given.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vuv {

inline constexpr const char* kDefaultClientMinProtocol = "SMB2_02";
inline constexpr const char* kDefaultClientMaxProtocol = "SMB3_11";
inline constexpr int kMaxIncludeDepth = 16;

struct ProtocolRange {
  std::string min;  // a dialect name as Samba spells it (NT1, SMB2_02, SMB3_11 ...)
  std::string max;
};

// What smb.conf files said; empty where they said nothing (or only `default`).
struct ProtocolSettings {
  std::string min;
  std::string max;
};

// The contents of a file, or nullopt when it cannot be read.
using ConfigReader = std::function<std::optional<std::string>(const std::string& path)>;

// Applies `path` on top of `settings`. False when the file itself cannot be read (a missing
// include is skipped, as Samba does).
bool readProtocolSettings(const std::string& path, const ConfigReader& read,
                          ProtocolSettings& settings);

// The files libsmbclient loads, in its order: $HOME/.smb/smb.conf when it can be read, else
// the system smb.conf and then $HOME/.smb/smb.conf.append; then `configFile` (the -s option)
// when not empty, whose settings win.
std::vector<std::string> clientConfigFiles(const std::string& home,
                                           const std::string& systemConfig,
                                           const std::string& configFile,
                                           const ConfigReader& read);

// The range for shares and files: what the files set, Samba's client defaults elsewhere.
ProtocolRange clientProtocolRange(const std::vector<std::string>& files,
                                  const ConfigReader& read);

// True when `range` lets a client speak SMB1 (NT1) to a server.
bool allowsSmb1(const ProtocolRange& range);

// Reads a whole file; nullopt when it cannot be opened.
std::optional<std::string> readWholeFile(const std::string& path);

}  // namespace vuv
