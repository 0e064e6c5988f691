#include "protocol/frame.h"

#include "protocol/message_codec.h"
#include "protocol/wire.h"

namespace vuv::protocol {

namespace {

// Consumed bytes are dropped once they are this many, so appends do not move data each time.
constexpr std::size_t kCompactThreshold = 64 * 1024;

}  // namespace

Result<std::string> encodeFrame(const Message& message) {
  std::string payload = encodeMessage(message);
  if (payload.size() > kMaxFramePayload) {
    return makeError(ErrorCode::InvalidArgument,
                     "message of " + std::to_string(payload.size()) + " bytes is too large");
  }
  WireWriter header;
  header.u32(static_cast<std::uint32_t>(payload.size()));
  return header.take() + payload;
}

void FrameDecoder::append(std::string_view bytes) {
  if (offset_ >= kCompactThreshold || offset_ == buffer_.size()) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  buffer_ += bytes;
}

Result<std::optional<Message>> FrameDecoder::next() {
  if (failed_) return makeError(ErrorCode::Protocol, "stream already failed");
  const std::string_view pending = std::string_view(buffer_).substr(offset_);
  WireReader header(pending);
  std::uint32_t size = 0;
  if (!header.u32(size)) return std::optional<Message>();
  if (size > kMaxFramePayload) {
    failed_ = true;
    return makeError(ErrorCode::Protocol, "frame of " + std::to_string(size) + " bytes");
  }
  if (header.remaining() < size) return std::optional<Message>();

  Result<Message> message = decodeMessage(pending.substr(kFrameHeaderBytes, size));
  offset_ += kFrameHeaderBytes + size;
  if (!message) {
    failed_ = true;
    return message.error();
  }
  return std::optional<Message>(std::move(message).value());
}

}  // namespace vuv::protocol
