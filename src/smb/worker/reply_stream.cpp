#include "smb/worker/reply_stream.h"

#include <array>
#include <span>

namespace vuv::smb {

void ReplyStream::add(protocol::Entry entry) {
  pending_.push_back(std::move(entry));
  if (pending_.size() >= kEntriesPerBatch) flush();
}

void ReplyStream::data(std::string_view bytes) {
  if (!status_) return;
  status_ = channel_.sendData(id_, bytes);
  sentAny_ = true;
}

void ReplyStream::flush() {
  if (pending_.empty()) return;
  const protocol::Message batch = takeBatch();
  send(std::span(&batch, 1));
}

const Status& ReplyStream::finish(const protocol::Message& last) {
  if (pending_.empty()) {
    send(std::span(&last, 1));
  } else {
    const std::array<protocol::Message, 2> both{takeBatch(), last};
    send(both);
  }
  return status_;
}

protocol::Message ReplyStream::takeBatch() {
  protocol::Message batch = protocol::EntriesBatch{id_, std::move(pending_)};
  pending_.clear();
  return batch;
}

void ReplyStream::send(std::span<const protocol::Message> messages) {
  if (!status_) return;
  status_ = channel_.send(messages);
  sentAny_ = true;
}

}  // namespace vuv::smb
