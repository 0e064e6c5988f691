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

Result<Message> decodeMessage(std::string_view payload);

}  // namespace vuv::protocol
