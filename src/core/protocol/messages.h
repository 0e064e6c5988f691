// The messages between the program and its SMB worker processes.
//
// A worker serves one request at a time:
//   parent -> worker  Hello once, first; then Request, and AuthReply when asked
//   worker -> parent  for each Request: any number of EntriesBatch or DataChunk, at most one
//                     AuthRequest (answered by AuthReply before it goes on), then one Done
// A ReadFile answer starts with one EntriesBatch holding the file's own Entry (its size and
// time at the open), then its bytes as DataChunks in order.
// Every reply carries the id of its Request. Plain values; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "browse/credentials.h"

namespace vuv::protocol {

// Raised whenever the encoding or the order of replies changes; a worker refuses a Hello of
// another version. 2: a ReadFile answer tells the file's size first.
inline constexpr std::uint16_t kProtocolVersion = 2;

enum class Operation : std::uint8_t {
  ListWorkgroups = 1,  // smb://
  ListServers = 2,     // smb://WORKGROUP
  ListShares = 3,      // smb://SERVER
  ListDirectory = 4,   // smb://server/share/dir
  ReadFile = 5,        // smb://server/share/dir/file
};

enum class EntryKind : std::uint8_t {
  Workgroup = 1,
  Server = 2,
  FileShare = 3,
  PrinterShare = 4,
  CommsShare = 5,
  IpcShare = 6,
  Folder = 7,
  File = 8,
};

struct Entry {
  EntryKind kind = EntryKind::File;
  std::string name;           // UTF-8
  std::uint64_t size = 0;     // bytes; 0 for everything but files
  std::int64_t modified = 0;  // seconds since the Unix epoch; 0 when unknown
  std::uint64_t fileId = 0;   // the server's file id; 0 when unknown

  bool operator==(const Entry&) const = default;
};

struct Hello {
  std::uint16_t version = kProtocolVersion;
  std::uint32_t timeoutMs = 0;  // libsmbclient's per-request timeout; 0: its default
  Credentials credentials;      // anonymous when the user is empty
};

struct Request {
  std::uint32_t id = 0;
  Operation operation = Operation::ListDirectory;
  std::string target;  // an smb:// URL with percent-encoded components
};

struct EntriesBatch {
  std::uint32_t id = 0;
  std::vector<Entry> entries;
};

struct DataChunk {
  std::uint32_t id = 0;
  std::string bytes;
};

struct Done {
  std::uint32_t id = 0;
  std::int32_t status = 0;     // 0, or an errno value saying why the request failed
  bool openedNothing = false;  // status 0, yet opendir gave no handle (and no error)
  std::string detail;          // what was done to which URL, for diagnostics
};

struct AuthRequest {
  std::uint32_t id = 0;
  std::string server;
  std::string share;  // empty for a server's share list
};

struct AuthReply {
  std::uint32_t id = 0;
  std::optional<Credentials> credentials;  // nullopt: none to offer
};

using Message =
    std::variant<Hello, Request, EntriesBatch, DataChunk, Done, AuthRequest, AuthReply>;

}  // namespace vuv::protocol
