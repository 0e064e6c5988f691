// The credentials of one session, shared by every worker: what a server accepted is offered to
// the next worker that asks about it, without asking the user again.
//
// A worker asks (server, share) when a server refused it. The answer is, in this order: what
// was given for that share, what was given for that server (unless the share refused them
// although the server took them elsewhere), else the prompt's answer. One prompt per server
// (or per share, once a share wants its own) at a time: others asking meanwhile wait for that
// answer. Credentials a server refuses are forgotten, so the next ask prompts again; a prompt
// the user declined is not repeated in the run. An answer the user did not want remembered
// serves the rest of the run (so a search does not ask again for every folder) and is gone
// with it; each request offered it is told so (`remember` false), so that no worker keeps it.
//
// A run is what the program counts as one, from one startRun() to the next; a program that
// never calls it (the command line tool: one command, one run) has one run per session.
//
// Thread safety: every call from any thread. credentialsFor() calls the prompt without holding
// the lock, so a prompt left open blocks only the thread that asked: threads waiting for its
// answer return nullopt at once when their stop is requested.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

#include "browse/credentials.h"

namespace vuv::smb {

class CredentialCache {
 public:
  // `prompt` not owned; may be null. `credentialsGiven`: the session's workers log on with
  // credentials of their own (not anonymous), so a refusal with nothing known is of those.
  explicit CredentialCache(CredentialPrompt* prompt, bool credentialsGiven = false)
      : prompt_(prompt), credentialsGiven_(credentialsGiven) {}

  // Credentials for a worker to try, or nullopt: none to offer, or `stop` came while waiting
  // for another thread's prompt. `remember` false: the worker must not keep them beyond this
  // request.
  // `mayPrompt` false: only what is known is offered; nobody is asked, and nobody else's open
  // question is waited for (a discovery must not stop on a person).
  std::optional<CredentialAnswer> credentialsFor(std::string_view server, std::string_view share,
                                                 std::stop_token stop, bool mayPrompt = true);

  // A new run begins: answers for the last run only are forgotten, and declined prompts may
  // be asked again.
  void startRun();
  // The person asks to be asked about `server` (a log-on): a question about it declined in
  // this run is asked again; the others stay declined.
  void askAgain(std::string_view server);

  // How a request that was offered `given` for (server, share) ended.
  void accepted(std::string_view server, std::string_view share, const Credentials& given);
  void refused(std::string_view server, std::string_view share, const Credentials& given);

 private:
  using ShareKey = std::pair<std::string, std::string>;  // case-folded server, share
  struct Known {
    Credentials credentials;
    bool confirmed = false;  // some request succeeded with them
    bool remember = true;    // false: for this run only
  };

  CredentialPrompt* const prompt_;
  const bool credentialsGiven_;
  std::mutex mutex_;
  std::condition_variable_any answered_;
  std::map<std::string, Known> servers_;           // guarded by mutex_
  std::map<ShareKey, Known> shares_;               // guarded by mutex_
  std::set<ShareKey> sharesRefusingServer_;        // guarded by mutex_
  std::set<std::string> asking_;                   // prompt keys open now; guarded by mutex_
  std::set<std::string> declined_;                 // guarded by mutex_
};

}  // namespace vuv::smb
