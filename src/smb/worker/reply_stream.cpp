#include "smb/worker/reply_stream.h"

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

void ReplyStream::send(const protocol::Message& message) {
  if (!status_) return;
  status_ = channel_.send(message);
  sentAny_ = true;
}

}  // namespace vuv::smb
