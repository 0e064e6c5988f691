// Serves the parent's requests with libsmbclient: the browse lists, folder listings and file
// reads, each answered with batches and one Done.
//
// Browse lists (smb://, smb://WORKGROUP) go through the NT1 context, everything else through
// the SMB2/3 one. When a server refuses a request made without credentials of our own, the
// handler asks the parent (AuthRequest) and retries once with what it gets.
// Single-threaded, like libsmbclient.
#pragma once

#include "base/result.h"
#include "protocol/messages.h"
#include "smb/channel/message_channel.h"
#include "smb/worker/authenticator.h"
#include "smb/worker/smb_context.h"

namespace vuv::smb {

class ReplyStream;

class RequestHandler {
 public:
  RequestHandler(MessageChannel& channel, Authenticator& authenticator, SmbContext& browse,
                 SmbContext& files)
      : channel_(channel), authenticator_(authenticator), browse_(browse), files_(files) {}

  // Answers `request` up to its Done. An error only when the parent can no longer be
  // reached or broke the protocol: the worker should then end.
  Status serve(const protocol::Request& request);

 private:
  struct Outcome {
    int status = 0;
    bool openedNothing = false;
    std::string detail;
  };

  Outcome attempt(const protocol::Request& request, ReplyStream& out);
  // After an anonymous attempt was refused: asks the parent, and tries once more with what
  // it gives. Errors only for a lost parent.
  Status retryWithParentCredentials(const protocol::Request& request, ReplyStream& out,
                                    Outcome& outcome);
  Outcome listNames(SmbContext& context, const std::string& url, protocol::Operation operation,
                    ReplyStream& out);
  Outcome listDirectory(const std::string& url, ReplyStream& out);
  Outcome readFile(const std::string& url, ReplyStream& out);
  // The parent's answer to an AuthRequest; nullopt when it has none.
  Result<std::optional<Credentials>> askParent(std::uint32_t id, const std::string& server,
                                               const std::string& share);

  MessageChannel& channel_;
  Authenticator& authenticator_;
  SmbContext& browse_;
  SmbContext& files_;
};

}  // namespace vuv::smb
