// Turns worker protocol messages into payload bytes and back.
//
// Payload: one type byte, then the message's fields (wire.h). decodeMessage accepts exactly
// one well-formed message: a short, over-long or otherwise malformed payload is an error
// value (ErrorCode::Protocol), never a crash or an allocation larger than the payload.
// Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "protocol/messages.h"

namespace vuv::protocol {

std::string encodeMessage(const Message& message);

// What encodeMessage(DataChunk{id, bytes}) puts before the bytes themselves, for a sender
// that writes the bytes from where they are instead of copying them into one message.
std::string encodeDataChunkPrefix(std::uint32_t id, std::size_t size);

// When `payload` is a well-formed DataChunk: its id, and its bytes as a view into `payload`.
bool viewDataChunk(std::string_view payload, std::uint32_t& id, std::string_view& bytes);

Result<Message> decodeMessage(std::string_view payload);

}  // namespace vuv::protocol
