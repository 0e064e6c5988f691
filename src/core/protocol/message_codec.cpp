#include "protocol/message_codec.h"

#include <type_traits>

#include "protocol/wire.h"

namespace vuv::protocol {

namespace {

enum class MessageType : std::uint8_t {
  Hello = 1,
  Request = 2,
  EntriesBatch = 3,
  DataChunk = 4,
  Done = 5,
  AuthRequest = 6,
  AuthReply = 7,
};

// kind, name length, size, modified, file id: the least an entry can take on the wire.
constexpr std::size_t kMinEntryBytes = 1 + 4 + 8 + 8 + 8;

bool validOperation(std::uint8_t value) {
  return value >= static_cast<std::uint8_t>(Operation::ListWorkgroups) &&
         value <= static_cast<std::uint8_t>(Operation::ReadFile);
}

bool validKind(std::uint8_t value) {
  return value >= static_cast<std::uint8_t>(EntryKind::Workgroup) &&
         value <= static_cast<std::uint8_t>(EntryKind::File);
}

void writeCredentials(WireWriter& w, const Credentials& c) {
  w.bytes(c.domain);
  w.bytes(c.user);
  w.bytes(c.password);
}

bool readCredentials(WireReader& r, Credentials& c) {
  return r.bytes(c.domain) && r.bytes(c.user) && r.bytes(c.password);
}

void write(WireWriter& w, const Hello& m) {
  w.u8(static_cast<std::uint8_t>(MessageType::Hello));
  w.u16(m.version);
  w.u32(m.timeoutMs);
  writeCredentials(w, m.credentials);
}

void write(WireWriter& w, const Request& m) {
  w.u8(static_cast<std::uint8_t>(MessageType::Request));
  w.u32(m.id);
  w.u8(static_cast<std::uint8_t>(m.operation));
  w.bytes(m.target);
}

void write(WireWriter& w, const EntriesBatch& m) {
  w.u8(static_cast<std::uint8_t>(MessageType::EntriesBatch));
  w.u32(m.id);
  w.u32(static_cast<std::uint32_t>(m.entries.size()));
  for (const Entry& e : m.entries) {
    w.u8(static_cast<std::uint8_t>(e.kind));
    w.bytes(e.name);
    w.u64(e.size);
    w.i64(e.modified);
    w.u64(e.fileId);
  }
}

void write(WireWriter& w, const DataChunk& m) {
  w.u8(static_cast<std::uint8_t>(MessageType::DataChunk));
  w.u32(m.id);
  w.bytes(m.bytes);
}

void write(WireWriter& w, const Done& m) {
  w.u8(static_cast<std::uint8_t>(MessageType::Done));
  w.u32(m.id);
  w.i32(m.status);
  w.u8(m.openedNothing ? 1 : 0);
  w.bytes(m.detail);
}

void write(WireWriter& w, const AuthRequest& m) {
  w.u8(static_cast<std::uint8_t>(MessageType::AuthRequest));
  w.u32(m.id);
  w.bytes(m.server);
  w.bytes(m.share);
}

void write(WireWriter& w, const AuthReply& m) {
  w.u8(static_cast<std::uint8_t>(MessageType::AuthReply));
  w.u32(m.id);
  w.u8(m.credentials ? 1 : 0);
  writeCredentials(w, m.credentials.value_or(Credentials{}));
}

bool read(WireReader& r, Hello& m) {
  return r.u16(m.version) && r.u32(m.timeoutMs) && readCredentials(r, m.credentials);
}

bool read(WireReader& r, Request& m) {
  std::uint8_t operation = 0;
  if (!r.u32(m.id) || !r.u8(operation) || !validOperation(operation)) return false;
  m.operation = static_cast<Operation>(operation);
  return r.bytes(m.target);
}

bool read(WireReader& r, EntriesBatch& m) {
  std::uint32_t count = 0;
  if (!r.u32(m.id) || !r.u32(count)) return false;
  if (count > r.remaining() / kMinEntryBytes) return false;  // lies about its size
  m.entries.resize(count);
  for (Entry& e : m.entries) {
    std::uint8_t kind = 0;
    if (!r.u8(kind) || !validKind(kind)) return false;
    e.kind = static_cast<EntryKind>(kind);
    if (!r.bytes(e.name) || !r.u64(e.size) || !r.i64(e.modified) || !r.u64(e.fileId)) {
      return false;
    }
  }
  return true;
}

bool read(WireReader& r, DataChunk& m) { return r.u32(m.id) && r.bytes(m.bytes); }

bool read(WireReader& r, Done& m) {
  std::uint8_t openedNothing = 0;
  if (!r.u32(m.id) || !r.i32(m.status) || !r.u8(openedNothing) || openedNothing > 1) {
    return false;
  }
  m.openedNothing = openedNothing == 1;
  return r.bytes(m.detail);
}

bool read(WireReader& r, AuthRequest& m) {
  return r.u32(m.id) && r.bytes(m.server) && r.bytes(m.share);
}

bool read(WireReader& r, AuthReply& m) {
  std::uint8_t provided = 0;
  Credentials credentials;
  if (!r.u32(m.id) || !r.u8(provided) || provided > 1 || !readCredentials(r, credentials)) {
    return false;
  }
  if (provided == 1) m.credentials = std::move(credentials);
  return true;
}

template <class T>
Result<Message> readWhole(WireReader& r) {
  T message;
  if (!read(r, message)) return makeError(ErrorCode::Protocol, "malformed message");
  if (r.remaining() != 0) return makeError(ErrorCode::Protocol, "bytes after the message");
  return Message(std::move(message));
}

}  // namespace

std::string encodeDataChunkPrefix(std::uint32_t id, std::size_t size) {
  WireWriter w;
  w.u8(static_cast<std::uint8_t>(MessageType::DataChunk));
  w.u32(id);
  w.u32(static_cast<std::uint32_t>(size));
  return w.take();
}

bool viewDataChunk(std::string_view payload, std::uint32_t& id, std::string_view& bytes) {
  constexpr std::size_t kPrefix = 1 + 4 + 4;  // type, id, byte count
  if (payload.size() < kPrefix || static_cast<std::uint8_t>(payload[0]) != static_cast<std::uint8_t>(MessageType::DataChunk)) {
    return false;
  }
  WireReader r(payload.substr(1, kPrefix - 1));
  std::uint32_t size = 0;
  if (!r.u32(id) || !r.u32(size) || size != payload.size() - kPrefix) return false;
  bytes = payload.substr(kPrefix);
  return true;
}

std::string encodeMessage(const Message& message) {
  WireWriter w;
  std::visit([&](const auto& m) { write(w, m); }, message);
  return w.take();
}

Result<Message> decodeMessage(std::string_view payload) {
  WireReader r(payload);
  std::uint8_t type = 0;
  if (!r.u8(type)) return makeError(ErrorCode::Protocol, "empty message");
  switch (static_cast<MessageType>(type)) {
    case MessageType::Hello: return readWhole<Hello>(r);
    case MessageType::Request: return readWhole<Request>(r);
    case MessageType::EntriesBatch: return readWhole<EntriesBatch>(r);
    case MessageType::DataChunk: return readWhole<DataChunk>(r);
    case MessageType::Done: return readWhole<Done>(r);
    case MessageType::AuthRequest: return readWhole<AuthRequest>(r);
    case MessageType::AuthReply: return readWhole<AuthReply>(r);
  }
  return makeError(ErrorCode::Protocol, "unknown message type " + std::to_string(type));
}

}  // namespace vuv::protocol
