#include "smb/client/worker_pool.h"

#include <cerrno>
#include <variant>

#include "base/casefold.h"
#include "browse/smb_url.h"
#include "smb/client/process_activity.h"
#include "smb/client/worker_path.h"
#include "smb/client/worker_process.h"

namespace vuv::smb {

namespace {

WorkerPoolOptions withDefaults(WorkerPoolOptions options) {
  if (options.workerPath.empty()) options.workerPath = defaultWorkerPath();
  if (options.maxWorkers == 0) options.maxWorkers = 1;
  return options;
}

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};

}  // namespace

// A worker taken from the pool; goes back when the lease ends, or is killed unless the
// request ended cleanly (so an exception from a handler cannot leak a worker).
class WorkerPool::Lease {
 public:
  Lease(WorkerPool& pool, std::unique_ptr<WorkerProcess> worker)
      : pool_(pool), worker_(std::move(worker)) {}
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  ~Lease() { pool_.giveBack(std::move(worker_), reusable); }

  WorkerProcess& operator*() { return *worker_; }
  WorkerProcess* operator->() { return worker_.get(); }
  bool reusable = false;

 private:
  WorkerPool& pool_;
  std::unique_ptr<WorkerProcess> worker_;
};

WorkerPool::WorkerPool(WorkerPoolOptions options)
    : options_(withDefaults(std::move(options))),
      credentials_(options_.prompt, !options_.credentials.anonymous()),
      spawner_(options_.workerPath, options_.workerArguments) {}

WorkerPool::~WorkerPool() {
  // All at once, so that the grace period runs once for all of them.
  for (auto& worker : idle_) worker->closeChannel();
  const Clock::time_point deadline = Clock::now() + kShutdownGrace;
  for (auto& worker : idle_) worker->reap(deadline);
}

std::size_t WorkerPool::workerCount() const {
  std::lock_guard lock(mutex_);
  return live_;
}

Result<std::unique_ptr<WorkerProcess>> WorkerPool::startWorker() {
  auto worker = spawner_.start();
  if (!worker) return worker.error();
  protocol::Hello hello;
  hello.timeoutMs = static_cast<std::uint32_t>(options_.progressTimeout.count());
  hello.credentials = options_.credentials;
  if (Status sent = (*worker)->channel().send(hello); !sent) {
    return makeError(ErrorCode::WorkerCrashed,
                     "SMB worker " + (*worker)->kill() + " before its first request");
  }
  return worker;
}

Result<std::unique_ptr<WorkerProcess>> WorkerPool::acquire(std::stop_token stop, WorkerChoice choice) {
  std::unique_lock lock(mutex_);
  // Ends an idle worker outside the lock (a live one leaves on end of input).
  auto retire = [&](std::unique_ptr<WorkerProcess> worker) {
    --live_;
    lock.unlock();
    worker.reset();
    lock.lock();
  };
  while (true) {
    if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, "waiting for an SMB worker");
    while (choice == WorkerChoice::Any && !idle_.empty()) {
      std::unique_ptr<WorkerProcess> worker = std::move(idle_.back());
      idle_.pop_back();
      if (worker->idleAndAlive()) return worker;
      retire(std::move(worker));  // died while idle
    }
    if (live_ < options_.maxWorkers) {
      ++live_;
      lock.unlock();
      auto started = startWorker();
      if (!started) {
        lock.lock();
        --live_;
        workerFreed_.notify_one();
      }
      return started;
    }
    if (choice == WorkerChoice::Fresh && !idle_.empty()) {
      std::unique_ptr<WorkerProcess> worker = std::move(idle_.back());
      idle_.pop_back();
      retire(std::move(worker));  // makes room for a fresh one
      continue;
    }
    workerFreed_.wait(lock, stop, [&] { return !idle_.empty() || live_ < options_.maxWorkers; });
  }
}

void WorkerPool::giveBack(std::unique_ptr<WorkerProcess> worker, bool reusable) {
  if (!reusable) worker->kill();
  {
    std::lock_guard lock(mutex_);
    if (reusable) {
      idle_.push_back(std::move(worker));
    } else {
      --live_;
    }
  }
  workerFreed_.notify_one();
}

Result<RequestOutcome> WorkerPool::run(protocol::Operation operation, const std::string& url,
                                       const ReplyHandlers& handlers, std::stop_token stop,
                                       WorkerChoice choice, std::string_view server, Prompting prompting) {
  auto acquired = acquire(stop, choice);
  if (!acquired) return acquired.error();
  Lease worker(*this, std::move(*acquired));
  // Ends before the lease does, so the worker is never signalled once given back or reaped.
  std::stop_callback killOnStop(stop, [&process = *worker] { process.interrupt(); });
  if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, url);

  const std::uint32_t id = nextId_++;
  if (Status sent = worker->channel().send(protocol::Request{id, operation, url}); !sent) {
    if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, url);
    return makeError(ErrorCode::WorkerCrashed, url + " (SMB worker " + worker->kill() + ")");
  }
  const bool first = worker->beginRequest();
  Result<RequestOutcome> outcome = converse(*worker, id, url, server, handlers, stop, prompting, worker.reusable);
  if (outcome) outcome->firstOfWorker = first;
  return outcome;
}

Result<RequestOutcome> WorkerPool::converse(WorkerProcess& worker, std::uint32_t id,
                                            const std::string& url, std::string_view server,
                                            const ReplyHandlers& handlers,
                                            std::stop_token stop, Prompting prompting,
                                            bool& reusable) {
  auto crashed = [&] {
    const std::string ending = worker.kill();
    // Killed by our own stop callback: that is a cancellation, not a crash to retry.
    if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, url);
    return makeError(ErrorCode::WorkerCrashed, url + " (SMB worker " + ending + ")");
  };
  // Credentials offered to this request, told to the cache once the request ends.
  std::optional<std::pair<protocol::AuthRequest, Credentials>> offered;
  const std::string host = smbUrlComponent(url, 0);
  const std::string serverName = server.empty() ? host : std::string(server);
  bool forgetAfterRequest = false;
  auto confused = [&](const char* what) {
    worker.kill();
    return makeError(ErrorCode::Protocol, url + " (SMB worker " + what + ")");
  };

  // File data goes to its handler straight from the channel's buffer; an end it makes waits
  // here for the channel to return.
  std::optional<Result<RequestOutcome>> dataEnd;
  const auto onData = [&](std::uint32_t chunkId, std::string_view bytes) {
    if (chunkId != id || !handlers.onData) {
      dataEnd = confused("sent stray data");
    } else if (!handlers.onData(bytes.data(), bytes.size())) {
      worker.kill();
      dataEnd = makeError(ErrorCode::Cancelled, url);
    }
    return !dataEnd;
  };

  // Time the worker spends held up here (starting, waiting for a processor) is not the
  // server's silence: such a limit is extended, at most busyExtensions times in one wait.
  std::size_t extended = 0;
  std::optional<ProcessActivity> sampled = worker.activity();
  while (true) {
    auto received = worker.channel().receive(options_.progressTimeout, onData);
    if (dataEnd) return std::move(*dataEnd);
    if (!received) {
      switch (received.error().code) {
        case ErrorCode::Timeout: {
          const std::optional<ProcessActivity> now = worker.activity();
          const bool heldUp = sampled && now && heldUpLocally(*sampled, *now);
          sampled = now;
          if (heldUp && extended < options_.busyExtensions) {
            ++extended;
            continue;
          }
          worker.kill();
          const auto waited = std::to_string(options_.progressTimeout.count() * static_cast<long>(extended + 1));
          return makeError(ErrorCode::Timeout, url + " (no reply for " + waited + " ms)", ETIMEDOUT);
        }
        case ErrorCode::Protocol: {
          // Garbage from a worker already dead came with its crash; only a live one is confused.
          const std::optional<ProcessActivity> now = worker.activity();
          if (stop.stop_requested() || !now || now->state == 'Z') return crashed();
          return confused("sent a malformed message");
        }
        default: return crashed();
      }
    }
    if (!received->has_value()) return crashed();
    extended = 0;
    sampled = worker.activity();
    protocol::Message& message = **received;

    // nullopt: keep reading; an error or an outcome ends the request.
    std::optional<Result<RequestOutcome>> end = std::visit(
        Overloaded{
            [&](protocol::EntriesBatch& batch) -> std::optional<Result<RequestOutcome>> {
              if (batch.id != id || !handlers.onEntries) return confused("sent stray entries");
              if (handlers.onEntries(batch.entries)) return std::nullopt;
              worker.kill();
              return makeError(ErrorCode::Cancelled, url);
            },
            [&](protocol::DataChunk& chunk) -> std::optional<Result<RequestOutcome>> {
              if (chunk.id != id || !handlers.onData) return confused("sent stray data");
              if (handlers.onData(chunk.bytes.data(), chunk.bytes.size())) return std::nullopt;
              worker.kill();
              return makeError(ErrorCode::Cancelled, url);
            },
            [&](protocol::AuthRequest& ask) -> std::optional<Result<RequestOutcome>> {
              if (ask.id != id) return confused("asked for credentials out of turn");
              protocol::AuthReply answer{id, std::nullopt};
              std::optional<CredentialAnswer> given;
              if (!host.empty() && compareIgnoringCase(ask.server, host) == 0) {
                ask.server = serverName;
                // Asked again about the same place: what we offered was refused.
                if (offered && offered->first.server == ask.server && offered->first.share == ask.share) {
                  credentials_.refused(ask.server, ask.share, offered->second);
                }
                given = credentials_.credentialsFor(ask.server, ask.share, stop, prompting == Prompting::Allowed);
              }
              if (stop.stop_requested()) return crashed();
              if (given) {
                answer.credentials = std::move(given->credentials);
                offered.emplace(ask, *answer.credentials);
                // The worker keeps what it was given for the server: one that must not keep
                // them ends with this request.
                if (!given->remember) forgetAfterRequest = true;
              }
              if (!worker.channel().send(answer)) return crashed();
              return std::nullopt;
            },
            [&](protocol::Done& done) -> std::optional<Result<RequestOutcome>> {
              if (done.id != id) return confused("finished another request");
              reusable = !forgetAfterRequest;
              if (offered) {
                const auto& [ask, given] = *offered;
                if (done.status == EACCES || done.status == EPERM) {
                  credentials_.refused(ask.server, ask.share, given);
                } else if (done.status == 0) {
                  credentials_.accepted(ask.server, ask.share, given);
                }
              }
              if (done.status != 0) {
                return makeError(errorCodeFromErrno(done.status), std::move(done.detail),
                                 done.status);
              }
              return RequestOutcome{done.openedNothing, std::move(done.detail)};
            },
            [&](auto&) -> std::optional<Result<RequestOutcome>> {
              return confused("sent a message meant for workers");
            },
        },
        message);
    if (end) return std::move(*end);
  }
}

}  // namespace vuv::smb
