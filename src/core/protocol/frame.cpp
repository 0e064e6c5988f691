#include "protocol/frame.h"

#include <algorithm>

#include "base/secret.h"
#include "protocol/message_codec.h"
#include "protocol/wire.h"

namespace vuv::protocol {

namespace {

// Consumed bytes are dropped once they are this many, so appends do not move data each time.
constexpr std::size_t kCompactThreshold = 64 * 1024;

}  // namespace

Result<std::string> encodeFrame(const Message& message) {
  std::string payload = encodeMessage(message);
  struct Wipe {
    std::string& bytes;
    bool secret;
    ~Wipe() {
      if (secret) wipeSecret(bytes);
    }
  } wipe{payload, carriesSecret(message)};
  if (payload.size() > kMaxFramePayload) {
    return makeError(ErrorCode::InvalidArgument,
                     "message of " + std::to_string(payload.size()) + " bytes is too large");
  }
  WireWriter header;
  header.u32(static_cast<std::uint32_t>(payload.size()));
  return header.take() + payload;
}

Result<std::string> encodeDataFrameStart(std::uint32_t id, std::size_t size) {
  std::string prefix = encodeDataChunkPrefix(id, size);
  if (size > kMaxFramePayload - prefix.size()) {
    return makeError(ErrorCode::InvalidArgument, "data chunk of " + std::to_string(size) + " bytes is too large");
  }
  WireWriter header;
  header.u32(static_cast<std::uint32_t>(prefix.size() + size));
  return header.take() + prefix;
}

void FrameDecoder::compact() {
  if (offset_ >= kCompactThreshold || offset_ == filled_) {
    std::copy(buffer_.get() + offset_, buffer_.get() + filled_, buffer_.get());
    filled_ -= offset_;
    offset_ = 0;
  }
}

void FrameDecoder::append(std::string_view bytes) {
  std::copy(bytes.begin(), bytes.end(), prepare(bytes.size()));
  commit(bytes.size());
}

char* FrameDecoder::prepare(std::size_t size) {
  compact();
  if (capacity_ - filled_ < size) grow(filled_ + size);
  return buffer_.get() + filled_;
}

void FrameDecoder::grow(std::size_t needed) {
  const std::size_t capacity = std::max(needed, 2 * capacity_);
  auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
  std::copy(buffer_.get(), buffer_.get() + filled_, bigger.get());
  // What is buffered may be part of a frame that carries a password.
  if (filled_ > 0) wipeSecret(buffer_.get(), filled_);
  buffer_ = std::move(bigger);
  capacity_ = capacity;
}

void FrameDecoder::commit(std::size_t size) { filled_ = std::min(filled_ + size, capacity_); }

std::optional<FrameDecoder::DataView> FrameDecoder::nextData() {
  if (failed_) return std::nullopt;
  const std::string_view pending = std::string_view(buffer_.get() + offset_, filled_ - offset_);
  WireReader header(pending);
  std::uint32_t size = 0;
  if (!header.u32(size) || size > kMaxFramePayload || header.remaining() < size) return std::nullopt;
  DataView view;
  if (!viewDataChunk(pending.substr(kFrameHeaderBytes, size), view.id, view.bytes)) return std::nullopt;
  offset_ += kFrameHeaderBytes + size;
  return view;
}

Result<std::optional<Message>> FrameDecoder::next() {
  if (failed_) return makeError(ErrorCode::Protocol, "stream already failed");
  const std::string_view pending = std::string_view(buffer_.get() + offset_, filled_ - offset_);
  WireReader header(pending);
  std::uint32_t size = 0;
  if (!header.u32(size)) return std::optional<Message>();
  if (size > kMaxFramePayload) {
    failed_ = true;
    return makeError(ErrorCode::Protocol, "frame of " + std::to_string(size) + " bytes");
  }
  if (header.remaining() < size) return std::optional<Message>();

  Result<Message> message = decodeMessage(pending.substr(kFrameHeaderBytes, size));
  // A password read off the stream leaves no copy in the buffer.
  if (message && carriesSecret(*message)) wipeSecret(buffer_.get() + offset_, kFrameHeaderBytes + size);
  offset_ += kFrameHeaderBytes + size;
  if (!message) {
    failed_ = true;
    return message.error();
  }
  return std::optional<Message>(std::move(message).value());
}

}  // namespace vuv::protocol
