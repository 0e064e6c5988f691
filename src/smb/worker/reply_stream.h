// The replies of one request on their way to the parent: entries are gathered into batches of
// kEntriesPerBatch, file data goes out chunk by chunk. Remembers whether anything was sent
// (a request that has sent part of its answer must not be retried) and the first send
// failure (the parent is gone: the worker then stops). Single-threaded.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "protocol/messages.h"
#include "smb/channel/message_channel.h"

namespace vuv::smb {

inline constexpr std::size_t kEntriesPerBatch = 256;

class ReplyStream {
 public:
  ReplyStream(MessageChannel& channel, std::uint32_t id) : channel_(channel), id_(id) {}

  void add(protocol::Entry entry);
  void data(std::string_view bytes);
  void flush();
  // Sends what is pending and then `last` (a request's Done) in one write, so the parent wakes
  // once for the end of a short listing, not twice. Returns status().
  const Status& finish(const protocol::Message& last);

  bool sentAny() const { return sentAny_; }
  const Status& status() const { return status_; }

 private:
  void send(std::span<const protocol::Message> messages);
  protocol::Message takeBatch();  // the pending entries as one batch; none are left pending

  MessageChannel& channel_;
  std::uint32_t id_;
  std::vector<protocol::Entry> pending_;
  bool sentAny_ = false;
  Status status_ = success();
};

}  // namespace vuv::smb
