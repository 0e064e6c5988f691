// Framing of the worker protocol on a byte stream: each message is a u32 little-endian
// payload length, then the payload (message_codec.h).
//
// FrameDecoder is fed whatever bytes arrive and hands out whole messages. A frame longer than
// kMaxFramePayload is refused from its header alone, before its bytes arrive, so a bad or
// hostile peer cannot make us buffer gigabytes. Errors are final: a stream cannot be
// resynchronised after one. Single-threaded value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"
#include "protocol/messages.h"

namespace vuv::protocol {

inline constexpr std::size_t kFrameHeaderBytes = 4;
inline constexpr std::size_t kMaxFramePayload = 16 * 1024 * 1024;

// Whether `message` holds a password (Hello, AuthReply): its frame is wiped (base/secret.h)
// once sent, and the decoder wipes it from its buffer once read.
inline bool carriesSecret(const Message& message) {
  return std::holds_alternative<Hello>(message) || std::holds_alternative<AuthReply>(message);
}

// Header and payload of `message`; InvalidArgument when it exceeds kMaxFramePayload.
Result<std::string> encodeFrame(const Message& message);
// The frame of DataChunk{id, bytes} up to the bytes: followed by them, the same frame as
// encodeFrame gives. InvalidArgument when the frame would exceed kMaxFramePayload.
Result<std::string> encodeDataFrameStart(std::uint32_t id, std::size_t size);

class FrameDecoder {
 public:
  void append(std::string_view bytes);
  // Room for `size` more bytes at the end of the buffer, to read into; then commit() what
  // arrived. Saves a copy of every byte on a fast stream.
  char* prepare(std::size_t size);
  void commit(std::size_t size);

  // The next whole message, or nullopt until more bytes arrive.
  Result<std::optional<Message>> next();

  struct DataView {
    std::uint32_t id = 0;
    std::string_view bytes;  // in the decoder's buffer: valid until the next call
  };
  // When the next whole frame is a well-formed DataChunk, takes it and shows its bytes where
  // they lie, without the copy next() makes; else nullopt and the frame stays for next().
  std::optional<DataView> nextData();

  // True when bytes of an unfinished frame are buffered (the stream may not end here).
  bool midFrame() const { return offset_ < filled_; }

 private:
  void compact();
  void grow(std::size_t needed);

  // Left uninitialised: a read into the room touches only the pages it fills, not all of it
  // (a worker and the CLI's channel to each worker would otherwise fault in every page).
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t filled_ = 0;  // bytes of buffer_ in use; the rest is room prepare() gave
  std::size_t offset_ = 0;  // start of the first unread frame in buffer_
  bool failed_ = false;
};

}  // namespace vuv::protocol
