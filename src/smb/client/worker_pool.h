// A bounded pool of SMB worker processes, and the synchronous way to run a request on one.
//
// libsmbclient is neither thread-safe nor crash-proof, so every SMB request runs in a worker
// process. A calling thread takes an idle worker (or starts one, or waits until one is free),
// sends its request and reads the replies on its own thread. Workers are started on demand up
// to maxWorkers (forked by a spawn server: worker_spawner.h) and reused. A request fails with
// Timeout when no reply arrives for progressTimeout (each batch starts the clock again, so a
// long listing that keeps streaming is not cut); its worker is then killed, so a dead host
// holds up only the requests sent to it. A limit that passes while the worker is held up on
// this machine (it used or waits for a processor, waits for the disk, or is stopped:
// process_activity.h) is not the server's silence and is extended, at most busyExtensions
// times in a row. So a silent server fails a request after progressTimeout of the worker
// sleeping, and within (1 + busyExtensions) x progressTimeout of the last reply in any case
// (30 s by default).
// A worker that dies mid-request costs that request (WorkerCrashed) and nothing else.
//
// Stop: when a request's stop token is requested, its worker is killed (SIGKILL) at once and
// reaped, and run() returns Cancelled within milliseconds; the next request starts a fresh
// worker. A request still waiting for a free worker returns Cancelled too.
//
// Credentials: a worker that asks gets them from the pool's CredentialCache (one per pool, so
// what one server accepted reaches every worker); the prompt is asked only when the cache has
// nothing, once per server however many workers ask at the same time. A worker that asks
// again about the same server and share within one request was refused what it got, and the
// cache hears so before it answers (a share refusing its server's log-on gets a question of
// its own). A worker is answered
// only about the server of its request (the URL's host): a question about any other server
// (a workgroup's master browser, a server the library was sent on to) gets no credentials,
// so a password given for one server never reaches another.
//
// Thread safety: run() may be called from any number of threads at once. Destroy the pool
// only after every call has returned (request stop on them first: they return at once, except
// one blocked in the credential prompt, which returns when the prompt does); the destructor
// closes the workers' input and reaps them, killing those still running after
// kShutdownGrace. No thread of the pool's own ever runs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "browse/credentials.h"
#include "browse/directory_lister.h"
#include "protocol/messages.h"
#include "smb/client/credential_cache.h"
#include "smb/client/worker_spawner.h"

namespace vuv::smb {

class WorkerProcess;

inline constexpr std::size_t kDefaultMaxWorkers = 32;
inline constexpr std::chrono::milliseconds kDefaultProgressTimeout{5000};
// Room for many workers starting at once on few cores.
inline constexpr std::size_t kDefaultBusyExtensions = 5;

struct WorkerPoolOptions {
  std::string workerPath;  // empty: defaultWorkerPath()
  std::size_t maxWorkers = kDefaultMaxWorkers;
  std::chrono::milliseconds progressTimeout = kDefaultProgressTimeout;
  std::size_t busyExtensions = kDefaultBusyExtensions;  // see above
  Credentials credentials;             // every worker's first choice; anonymous when empty
  CredentialPrompt* prompt = nullptr;  // not owned; null: servers that refuse anonymous fail
  // Extra command-line arguments for every worker process (smb.conf, debug level, Kerberos:
  // see the worker's main.cpp). Never credentials: argv is visible to every local user.
  std::vector<std::string> workerArguments;
};

// Where a request's replies go, on the calling thread. Returning false stops the request
// (Cancelled); its worker is then killed, since it would go on sending.
struct ReplyHandlers {
  std::function<bool(std::vector<protocol::Entry>& batch)> onEntries;
  ChunkSink onData;
};

// Which worker a request may run on. A repeated read wants a fresh one: an idle worker may
// have died a moment ago without showing it yet.
enum class WorkerChoice { Any, Fresh };

// Whether a server that refuses what the cache holds may open the credential prompt for this
// request. Never: the request fails with AccessDenied instead (a discovery asks no one).
enum class Prompting { Allowed, Never };

struct RequestOutcome {
  bool openedNothing = false;  // the listing gave no handle and no error (see protocol)
  std::string detail;
  bool firstOfWorker = false;  // the worker's first request: it started and connected for it
};

class WorkerPool {
 public:
  explicit WorkerPool(WorkerPoolOptions options = {});
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  // Runs one request on `url` (an smb:// URL, smb_url.h) and passes its replies to
  // `handlers`. A failure reported by the worker carries its errno (Error::systemCode) and the
  // matching ErrorCode; the pool adds Timeout, WorkerCrashed, Protocol and Cancelled (a handler
  // said stop, or `stop` was requested). WorkerCrashed means the worker died or was killed
  // from outside; a read may be repeated on a fresh worker. `server` is the name the person
  // knows the URL's host by (the URL may hold its address): questions about credentials and
  // what is remembered for them go by it; empty: the URL's host.
  Result<RequestOutcome> run(protocol::Operation operation, const std::string& url,
                             const ReplyHandlers& handlers, std::stop_token stop = {},
                             WorkerChoice choice = WorkerChoice::Any, std::string_view server = {},
                             Prompting prompting = Prompting::Allowed);

  // A new run begins for the credential cache (credential_cache.h): answers given for the last
  // run only are forgotten, and declined questions may be asked again.
  void startRun() { credentials_.startRun(); }
  // See CredentialCache::askAgain().
  void askAgain(std::string_view server) { credentials_.askAgain(server); }

  // Workers alive now, busy or idle; never above maxWorkers.
  std::size_t workerCount() const;

 private:
  class Lease;

  Result<std::unique_ptr<WorkerProcess>> acquire(std::stop_token stop, WorkerChoice choice);
  Result<std::unique_ptr<WorkerProcess>> startWorker();
  void giveBack(std::unique_ptr<WorkerProcess> worker, bool reusable);
  Result<RequestOutcome> converse(WorkerProcess& worker, std::uint32_t id, const std::string& url,
                                  std::string_view server, const ReplyHandlers& handlers,
                                  std::stop_token stop, Prompting prompting, bool& reusable);

  const WorkerPoolOptions options_;

  CredentialCache credentials_;
  WorkerSpawner spawner_;

  mutable std::mutex mutex_;
  std::condition_variable_any workerFreed_;
  std::vector<std::unique_ptr<WorkerProcess>> idle_;  // protected by mutex_
  std::size_t live_ = 0;                              // protected by mutex_; busy + idle
  std::atomic<std::uint32_t> nextId_ = 1;
};

}  // namespace vuv::smb
