#include "smb/worker/reply_stream.h"

#include <array>

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
  send(protocol::EntriesBatch{id_, std::move(pending_)});
  pending_.clear();
}

const Status& ReplyStream::finish(const protocol::Message& last) {
  if (pending_.empty()) {
    send(last);
    return status_;
  }
  if (!status_) return status_;
  const std::array<protocol::Message, 2> both{protocol::EntriesBatch{id_, std::move(pending_)}, last};
  pending_.clear();
  status_ = channel_.send(both);
  sentAny_ = true;
  return status_;
}

void ReplyStream::send(const protocol::Message& message) {
  if (!status_) return;
  status_ = channel_.send(message);
  sentAny_ = true;
}

}  // namespace vuv::smb
