#include "smb/worker/request_handler.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "browse/kerberos_ticket.h"
#include "browse/smb_url.h"
#include "protocol/read_pace.h"
#include "smb/worker/reply_stream.h"

namespace vuv::smb {

namespace {

using protocol::EntryKind;
using protocol::Operation;

bool refused(int status) { return status == EACCES || status == EPERM; }

// What libsmbclient reports when a server ends the connection during the protocol
// negotiation: seen with an SMB1-only server and a client range of SMB2_02 and above.
constexpr int kNegotiationBrokenOff = ECONNABORTED;
// What we report for a server that speaks only dialects outside the user's range.
constexpr int kProtocolNotAllowed = EPROTONOSUPPORT;
// What we report when Kerberos is required and the ticket cache is plainly empty.
constexpr int kNoKerberosTicket = ENOKEY;

// smb://server/share/ of a URL below a share's top folder ("smb://s/share/dir"); empty for a
// URL of a server or of a share itself.
std::string shareTopUrl(const std::string& url) {
  constexpr std::string_view kScheme = "smb://";
  if (url.rfind(kScheme, 0) != 0) return {};
  const auto serverEnd = url.find('/', kScheme.size());
  if (serverEnd == std::string::npos) return {};
  const auto shareEnd = url.find('/', serverEnd + 1);
  if (shareEnd == std::string::npos || shareEnd + 1 >= url.size()) return {};
  return url.substr(0, shareEnd + 1);
}

bool isBrowseList(Operation operation) {
  return operation == Operation::ListWorkgroups || operation == Operation::ListServers;
}

// smbc_type values (SMBC_WORKGROUP .. SMBC_FILE) and ours are the same numbers by design;
// a link is reported as a file.
EntryKind kindOf(unsigned int smbcType) {
  if (smbcType >= SMBC_WORKGROUP && smbcType <= SMBC_FILE) {
    return static_cast<EntryKind>(smbcType);
  }
  return EntryKind::File;
}

// Which entries a browse list keeps: the network lists workgroups, a workgroup its servers,
// a server every share it has (IPC$, ADMIN$ and printers included).
bool keeps(Operation operation, EntryKind kind) {
  switch (operation) {
    case Operation::ListWorkgroups: return kind == EntryKind::Workgroup;
    case Operation::ListServers: return kind == EntryKind::Server;
    default:
      return kind == EntryKind::FileShare || kind == EntryKind::PrinterShare ||
             kind == EntryKind::CommsShare || kind == EntryKind::IpcShare;
  }
}

bool isParentLink(const libsmb_file_info& info) {
  return info.name != nullptr && std::strcmp(info.name, "..") == 0;
}

}  // namespace

Status RequestHandler::serve(const protocol::Request& request) {
  ReplyStream out(channel_, request.id);
  authenticator_.forgetLastAsked();
  Outcome outcome = attempt(request, out);
  if (policy_.kerberosRequired) {
    // A password would not be used: say what Kerberos needs instead. Without a ticket
    // libsmbclient gives EACCES (measured here) or EINVAL.
    const bool failedLogOn = refused(outcome.status) || outcome.status == EINVAL;
    if (failedLogOn && !ticketCachePresent(static_cast<unsigned>(::getuid()))) {
      outcome.status = kNoKerberosTicket;
    } else if (failedLogOn) {
      outcome.detail += " (Kerberos required: is the ticket valid, and the server named by its "
                        "DNS name, not its address?)";
    }
  } else if (refused(outcome.status) && !out.sentAny()) {
    // Retried only when nothing has gone out yet: the parent must not see entries twice.
    if (Status asked = retryWithParentCredentials(request, out, outcome); !asked) return asked;
  }
  if (outcome.status == kNegotiationBrokenOff && !policy_.filesAllowSmb1 &&
      !isBrowseList(request.operation) && speaksOnlySmb1(smbUrlComponent(request.target, 0))) {
    outcome.status = kProtocolNotAllowed;
  }
  return out.finish(protocol::Done{request.id, outcome.status, outcome.openedNothing,
                                   std::move(outcome.detail)});
}

Status RequestHandler::retryWithParentCredentials(const protocol::Request& request,
                                                  ReplyStream& out, Outcome& outcome) {
  // The server that refused: where libsmbclient last wanted credentials, else the URL's.
  std::string server = authenticator_.lastServer();
  std::string share = authenticator_.lastShare();
  if (server.empty()) {
    server = smbUrlComponent(request.target, 0);
    share = smbUrlComponent(request.target, 1);
  }
  Credentials refusedNow = authenticator_.credentialsFor(server, share);
  // A server's own list refusing credentials it was given: asked afresh by a later request.
  if (!refusedNow.anonymous() && smbUrlComponent(request.target, 1).empty()) return success();
  // A folder or file we may not open in a share we can open: that item's own rights, not a
  // server asking for a log-on. A search would otherwise ask about every such folder it passes.
  if (const std::string top = shareTopUrl(request.target); !top.empty() && files_.openDir(top)) {
    return success();
  }

  // Asking again after a refusal tells the parent that what it gave was refused, and it asks
  // the person: first for the server, then, when a share refuses what its server took, for
  // that share, which then keeps its own. A few times at most, in case of typing errors.
  constexpr int kMaxAsks = 3;
  bool retried = false;
  for (int asked = 0; asked < kMaxAsks; ++asked) {
    Result<std::optional<Credentials>> answer = askParent(request.id, server, share);
    if (!answer) return answer.error();
    if (!answer->has_value()) {
      outcome.detail += " (no credentials offered)";
      return success();
    }
    if (**answer == refusedNow) continue;  // what was just refused: ask again, saying so
    const std::string_view scope = refusedNow.anonymous() ? std::string_view{} : share;
    authenticator_.remember(server, scope, **answer);
    browse_.forgetConnections();  // cached sessions with other credentials would be reused
    files_.forgetConnections();
    outcome = attempt(request, out);
    retried = true;
    if (!refused(outcome.status) || out.sentAny()) break;
    // Refused again: ask afresh rather than keep failing with these.
    authenticator_.forget(server, scope);
    refusedNow = std::move(**answer);
  }
  if (retried) outcome.detail += " (with credentials from the user)";
  return success();
}

bool RequestHandler::speaksOnlySmb1(const std::string& server) {
  if (server.empty()) return false;
  errno = 0;
  const DirHandle shares = browse_.openDir("smb://" + server + "/");
  const int err = errno;
  // Refused after a completed negotiation still proves the dialect.
  return shares != nullptr || refused(err);
}

RequestHandler::Outcome RequestHandler::attempt(const protocol::Request& request,
                                                ReplyStream& out) {
  switch (request.operation) {
    case Operation::ListWorkgroups:
    case Operation::ListServers:
      return listNames(browse_, request.target, request.operation, out);
    case Operation::ListShares:
      return listNames(files_, request.target, request.operation, out);
    case Operation::ListDirectory:
      return listDirectory(request.target, out);
    case Operation::ReadFile:
      return readFile(request.target, out);
  }
  return {EINVAL, false, "unknown operation"};
}

RequestHandler::Outcome RequestHandler::listNames(SmbContext& context, const std::string& url,
                                                  Operation operation, ReplyStream& out) {
  errno = 0;
  DirHandle dir = context.openDir(url);
  if (!dir) {
    const int err = errno;
    // Seen when no master browser answers the NT1 browse request: no list, but no error.
    if (err == 0) return {0, true, "list " + url + ": no handle and no error"};
    return {err, false, "list " + url};
  }
  while (const smbc_dirent* entry = context.readDir(dir.get())) {
    const EntryKind kind = kindOf(entry->smbc_type);
    if (keeps(operation, kind)) out.add(protocol::Entry{kind, entry->name, 0, 0, 0});
  }
  return {0, false, "list " + url};
}

RequestHandler::Outcome RequestHandler::listDirectory(const std::string& url, ReplyStream& out) {
  errno = 0;
  DirHandle dir = files_.openDir(url);
  if (!dir) {
    const int err = errno;
    if (err == 0) return {0, true, "list " + url + ": no handle and no error"};
    return {err, false, "list " + url};
  }
  // The entries come from the listing itself: no round trip per entry. readdirplus2 also
  // gives an entry's file id, but parses the folder's URL again for each entry (some 30 µs of
  // processor time), and only folders' ids are used: the walk and the copy cut link loops by
  // them. So one pass takes every entry without its id, and a second over the same listing in
  // memory takes the folders' ids.
  std::vector<const libsmb_file_info*> infos;
  while (const libsmb_file_info* info = files_.readDirPlus(dir.get())) infos.push_back(info);
  std::vector<std::uint64_t> ids(infos.size(), 0);
  bool secondPass = files_.rewindDir(dir.get());
  for (std::size_t i = 0; secondPass && i < infos.size(); ++i) {
    struct stat status {};
    // ".." is left out below, so its id is not asked for either.
    const bool folder = (infos[i]->attrs & SMBC_DOS_MODE_DIRECTORY) != 0 && !isParentLink(*infos[i]);
    const libsmb_file_info* again =
        folder ? files_.readDirPlus(dir.get(), &status) : files_.readDirPlus(dir.get());
    // Another entry than the first pass's: a library whose rewind missed this cursor.
    secondPass = again == infos[i];
    ids[i] = static_cast<std::uint64_t>(status.st_ino);
  }
  if (!secondPass) {
    // Read again from a fresh open, ids of all entries included, the costly way.
    errno = 0;
    dir = files_.openDir(url);
    if (!dir) return {errno != 0 ? errno : EIO, false, "list " + url};
    infos.clear();
    ids.clear();
    struct stat status {};
    while (const libsmb_file_info* info = files_.readDirPlus(dir.get(), &status)) {
      infos.push_back(info);
      ids.push_back(static_cast<std::uint64_t>(status.st_ino));
    }
  }
  for (std::size_t i = 0; i < infos.size(); ++i) {
    const libsmb_file_info& info = *infos[i];
    // "." stays: its file id is the listed folder's own, which a walk needs to see that a
    // link in a share's top folder leads back to the top.
    if (info.name == nullptr || isParentLink(info)) continue;
    const bool folder = (info.attrs & SMBC_DOS_MODE_DIRECTORY) != 0;
    out.add(protocol::Entry{
        folder ? EntryKind::Folder : EntryKind::File,
        info.name,
        folder ? 0 : info.size,
        static_cast<std::int64_t>(info.mtime_ts.tv_sec),
        folder ? ids[i] : 0,
    });
  }
  return {0, false, "list " + url};
}

RequestHandler::Outcome RequestHandler::readFile(const std::string& url, ReplyStream& out) {
  FileHandle file = files_.openFile(url);
  if (!file) return {errno != 0 ? errno : EIO, false, "open " + url};
  // The size at the open goes first, as the one entry of a batch: the parent compares it with
  // the bytes that arrive, so a connection that ends early is never taken for the file's end.
  struct stat status {};
  if (files_.stat(file.get(), &status) != 0) return {errno != 0 ? errno : EIO, false, "stat " + url};
  if (S_ISDIR(status.st_mode)) return {EISDIR, false, "open " + url};
  out.add(protocol::Entry{EntryKind::File, std::string(),
                          static_cast<std::uint64_t>(status.st_size),
                          static_cast<std::int64_t>(status.st_mtime),
                          static_cast<std::uint64_t>(status.st_ino)});
  out.flush();
  if (!out.status()) return {EPIPE, false, "read " + url};
  ReadPace pace(policy_.progressTimeout);
  std::vector<char> buffer(ReadPace::kLargest);
  while (true) {
    const auto started = std::chrono::steady_clock::now();
    const ssize_t n = files_.read(file.get(), buffer.data(), pace.size());
    if (n < 0) return {errno != 0 ? errno : EIO, false, "read " + url};
    pace.took(std::chrono::steady_clock::now() - started);
    if (n == 0) return {0, false, "read " + url};
    out.data(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    if (!out.status()) return {EPIPE, false, "read " + url};
  }
}

Result<std::optional<Credentials>> RequestHandler::askParent(std::uint32_t id,
                                                             const std::string& server,
                                                             const std::string& share) {
  if (Status sent = channel_.send(protocol::AuthRequest{id, server, share}); !sent) {
    return sent.error();
  }
  auto reply = channel_.receive();
  if (!reply) return reply.error();
  if (!reply->has_value()) return makeError(ErrorCode::Io, "parent closed the channel");
  auto* auth = std::get_if<protocol::AuthReply>(&**reply);
  if (auth == nullptr || auth->id != id) {
    return makeError(ErrorCode::Protocol, "expected the answer to an AuthRequest");
  }
  return std::move(auth->credentials);
}

}  // namespace vuv::smb
