// Serves the parent's requests with libsmbclient: the browse lists, folder listings and file
// reads, each answered with batches and one Done.
//
// Browse lists (smb://, smb://WORKGROUP) go through the NT1 context, everything else through
// the one with the user's protocol range. When a server or share refuses a request, the
// handler asks the parent (AuthRequest) and retries with what it gets; asked again within a
// request, the parent takes it that its last answer was refused (not when Kerberos is
// required: a password would not be used). When that range
// excludes SMB1 and a server breaks off the negotiation, the NT1 context tries the server: if
// it answers, the request fails with EPROTONOSUPPORT (ErrorCode::ProtocolNotAllowed), so the
// user learns which setting would reach it.
// Single-threaded, like libsmbclient.
#pragma once

#include <chrono>

#include "base/result.h"
#include "protocol/messages.h"
#include "smb/channel/message_channel.h"
#include "smb/worker/authenticator.h"
#include "smb/worker/smb_context.h"

namespace vuv::smb {

class ReplyStream;

struct HandlerPolicy {
  bool filesAllowSmb1 = false;  // the user's range for shares and files includes NT1
  bool kerberosRequired = false;
  std::chrono::milliseconds progressTimeout{0};  // the parent's: file reads keep within it
};

class RequestHandler {
 public:
  RequestHandler(MessageChannel& channel, Authenticator& authenticator, SmbContext& browse,
                 SmbContext& files, HandlerPolicy policy)
      : channel_(channel), authenticator_(authenticator), browse_(browse), files_(files),
        policy_(policy) {}

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
  // After an attempt was refused: asks the parent, and tries again with what it gives, a few
  // times at most. Errors only for a lost parent.
  Status retryWithParentCredentials(const protocol::Request& request, ReplyStream& out,
                                    Outcome& outcome);
  // After a negotiation the server broke off: does it answer SMB1 (NT1)?
  bool speaksOnlySmb1(const std::string& server);
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
  HandlerPolicy policy_;
};

}  // namespace vuv::smb
