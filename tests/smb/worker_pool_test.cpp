// The worker pool against fake workers: reuse, time limits, crashes, concurrency, the bound
// on workers, the credential prompt, cancellation and shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
#include <stop_token>
#include <thread>

#include "fake_worker_pool.h"
#include "support/gate.h"

namespace vuv::smb {
namespace {

using namespace std::chrono_literals;
using testing::fakeOptions;
using testing::isGone;
using testing::pidOf;
using testing::runFake;
using testing::stopSoon;

// Bound for "fails in time" checks: far above the timeouts used, far below a hang.
constexpr auto kGenerous = 10s;
using Clock = std::chrono::steady_clock;

TEST(WorkerPool, ReusesAnIdleWorkerAndPassesTheHelloAndArguments) {
  WorkerPoolOptions options = fakeOptions(1500ms);
  options.credentials = Credentials{"DOM", "bob", "pw"};
  options.workerArguments = {"--configfile", "/my files/smb.conf", "--debuglevel", "3"};
  WorkerPool pool(options);

  const pid_t first = pidOf(runFake(pool, "pid"));
  EXPECT_GT(first, 0);
  EXPECT_EQ(pidOf(runFake(pool, "pid")), first);
  EXPECT_EQ(pool.workerCount(), 1u);

  const auto hello = runFake(pool, "hello");
  ASSERT_TRUE(hello.outcome.ok());
  EXPECT_EQ(hello.names, std::vector<std::string>{"DOM|bob|pw|1500"});
  // Each argument arrives whole, spaces included.
  EXPECT_EQ(runFake(pool, "args").names,
            std::vector<std::string>{"--configfile|/my files/smb.conf|--debuglevel|3"});
}

TEST(WorkerPool, WorkerResultsMapToErrorsAndOutcomes) {
  WorkerPool pool(fakeOptions());
  const auto listed = runFake(pool, "list:250");
  ASSERT_TRUE(listed.outcome.ok());
  EXPECT_EQ(listed.names.size(), 250u);
  EXPECT_EQ(listed.batches, 3u);
  EXPECT_FALSE(listed.outcome->openedNothing);

  const auto failed = runFake(pool, "fail:2");
  ASSERT_FALSE(failed.outcome.ok());
  EXPECT_EQ(failed.outcome.error().code, ErrorCode::NotFound);
  EXPECT_EQ(failed.outcome.error().systemCode, 2);
  EXPECT_EQ(failed.outcome.error().detail, "fake fail:2");

  // The worker's word for an SMB1-only server outside the smb.conf range must reach the user
  // as the setting that allows it.
  const auto smb1 = runFake(pool, "fail:" + std::to_string(EPROTONOSUPPORT));
  ASSERT_FALSE(smb1.outcome.ok());
  EXPECT_EQ(smb1.outcome.error().code, ErrorCode::ProtocolNotAllowed);
  EXPECT_NE(describe(smb1.outcome.error()).find("`client min protocol = NT1`"), std::string::npos);

  const auto empty = runFake(pool, "empty");
  ASSERT_TRUE(empty.outcome.ok());
  EXPECT_TRUE(empty.outcome->openedNothing);
  EXPECT_EQ(pool.workerCount(), 1u);  // failures reported by a worker do not cost it
}

TEST(WorkerPool, HungRequestTimesOutAndItsWorkerIsKilled) {
  WorkerPool pool(fakeOptions(200ms));
  const pid_t worker = pidOf(runFake(pool, "pid"));

  const auto start = Clock::now();
  const auto hung = runFake(pool, "hang");
  ASSERT_FALSE(hung.outcome.ok());
  EXPECT_EQ(hung.outcome.error().code, ErrorCode::Timeout);
  EXPECT_LT(Clock::now() - start, kGenerous);
  EXPECT_TRUE(isGone(worker));
  EXPECT_EQ(pool.workerCount(), 0u);

  const pid_t replacement = pidOf(runFake(pool, "pid"));
  EXPECT_GT(replacement, 0);
  EXPECT_NE(replacement, worker);
}

TEST(WorkerPool, StreamingRequestOutlivesTheTimeoutWhileBatchesArrive) {
  // Four gaps of 150 ms: longer than the 500 ms limit in all, each well within it.
  WorkerPool pool(fakeOptions(500ms));
  const auto slow = runFake(pool, "slow:4:150");
  ASSERT_TRUE(slow.outcome.ok()) << describe(slow.outcome.error());
  EXPECT_EQ(slow.names.size(), 4u);
}

TEST(WorkerPool, CrashMidReplyCostsOnlyThatRequest) {
  WorkerPool pool(fakeOptions());
  const auto crashed = runFake(pool, "crash");
  ASSERT_FALSE(crashed.outcome.ok());
  EXPECT_EQ(crashed.outcome.error().code, ErrorCode::WorkerCrashed);
  EXPECT_NE(crashed.outcome.error().detail.find("signal 9"), std::string::npos)
      << crashed.outcome.error().detail;
  EXPECT_EQ(crashed.names, std::vector<std::string>{"before the crash"});

  EXPECT_GT(pidOf(runFake(pool, "pid")), 0);
  EXPECT_EQ(pool.workerCount(), 1u);
}

TEST(WorkerPool, MalformedRepliesAreProtocolErrors) {
  WorkerPool pool(fakeOptions());
  for (const char* command : {"garbage", "wrongid"}) {
    const auto ran = runFake(pool, command);
    ASSERT_FALSE(ran.outcome.ok()) << command;
    EXPECT_EQ(ran.outcome.error().code, ErrorCode::Protocol) << command;
  }
  EXPECT_EQ(pool.workerCount(), 0u);
}

TEST(WorkerPool, HungRequestDoesNotHoldUpOthers) {
  WorkerPool pool(fakeOptions(1s, 3));
  std::atomic<bool> hungDone = false;
  std::thread hung([&] {
    EXPECT_EQ(runFake(pool, "hang").outcome.error().code, ErrorCode::Timeout);
    hungDone = true;
  });
  for (int i = 0; i < 20; ++i) {
    const auto ran = runFake(pool, "list:5");
    ASSERT_TRUE(ran.outcome.ok());
  }
  EXPECT_FALSE(hungDone) << "the quick requests waited for the hung one";
  hung.join();
}

TEST(WorkerPool, NeverRunsMoreWorkersThanItsBound) {
  constexpr std::size_t kBound = 2;
  WorkerPool pool(fakeOptions(2s, kBound));
  std::mutex mutex;
  std::set<pid_t> pids;
  std::size_t mostAlive = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([&] {
      const auto ran = runFake(pool, "hold:50");
      std::lock_guard lock(mutex);
      EXPECT_TRUE(ran.outcome.ok());
      pids.insert(pidOf(ran));
      mostAlive = std::max(mostAlive, pool.workerCount());
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_LE(pids.size(), kBound);
  EXPECT_LE(mostAlive, kBound);
}

// Answers after a pause, so that workers asking at the same time overlap with the question;
// the last answer repeats.
class ScriptedPrompt : public CredentialPrompt {
 public:
  explicit ScriptedPrompt(std::vector<std::optional<Credentials>> answers, bool remember = true)
      : answers_(std::move(answers)), remember_(remember) {}
  std::optional<CredentialAnswer> credentialsFor(std::string_view server, std::string_view share, std::stop_token) override {
    std::this_thread::sleep_for(50ms);
    std::lock_guard lock(mutex_);
    where = std::string(server) + "/" + std::string(share);
    const std::optional<Credentials>& answer = answers_[std::min<std::size_t>(asked++, answers_.size() - 1)];
    if (!answer) return std::nullopt;
    return CredentialAnswer{*answer, remember_};
  }
  std::atomic<int> asked = 0;
  std::string where;  // of the last question

 private:
  std::mutex mutex_;
  std::vector<std::optional<Credentials>> answers_;
  bool remember_;
};

// The worker keeps what it was given for a server; for an answer not to be remembered it must
// not outlive the request.
TEST(WorkerPool, AnswerNotRememberedEndsItsWorkerAndServesTheRunOnly) {
  ScriptedPrompt twice({Credentials{"DOM", "alice", "secret"}, Credentials{"DOM", "bob", "pw"}},
                       /*remember=*/false);
  WorkerPoolOptions options = fakeOptions();
  options.prompt = &twice;
  WorkerPool pool(options);
  const char* const expected[] = {"user=DOM\\alice:secret", "user=DOM\\alice:secret", "user=DOM\\bob:pw"};
  for (int i = 0; i < 3; ++i) {
    if (i == 2) pool.startRun();
    const auto ran = runFake(pool, "auth");
    ASSERT_TRUE(ran.outcome.ok());
    EXPECT_EQ(ran.names, std::vector<std::string>{expected[i]});
    EXPECT_EQ(pool.workerCount(), 0u);  // no worker keeps them
  }
  EXPECT_EQ(twice.asked, 2);
}

TEST(WorkerPool, NoCredentialsToOfferMeansAccessDenied) {
  ScriptedPrompt nobody({std::nullopt});
  WorkerPoolOptions withPrompt = fakeOptions();
  withPrompt.prompt = &nobody;
  for (const WorkerPoolOptions& options : {fakeOptions(), withPrompt}) {
    WorkerPool pool(options);
    const auto ran = runFake(pool, "auth");
    ASSERT_FALSE(ran.outcome.ok());
    EXPECT_EQ(ran.outcome.error().code, ErrorCode::AccessDenied);
    EXPECT_EQ(pool.workerCount(), 1u);
  }
}

TEST(WorkerPool, HandlerThatStopsCancelsAndTheWorkerIsReplaced) {
  WorkerPool pool(fakeOptions());
  const pid_t worker = pidOf(runFake(pool, "pid"));
  ReplyHandlers stopAtOnce;
  stopAtOnce.onEntries = [](std::vector<protocol::Entry>&) { return false; };
  auto outcome = pool.run(protocol::Operation::ListDirectory, "smb://fake/list:1000", stopAtOnce);
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error().code, ErrorCode::Cancelled);
  EXPECT_TRUE(isGone(worker));
  EXPECT_GT(pidOf(runFake(pool, "pid")), 0);
}

TEST(WorkerPool, StopKillsTheWorkerAtOnceAndTheNextRequestGetsAFreshOne) {
  WorkerPool pool(fakeOptions(60s, 1));  // a time limit no test waits for
  const pid_t worker = pidOf(runFake(pool, "pid"));
  std::stop_source stop;
  const std::jthread stopper = stopSoon(stop);
  auto hung = runFake(pool, "hang", stop.get_token()).outcome;
  ASSERT_FALSE(hung.ok());
  EXPECT_EQ(hung.error().code, ErrorCode::Cancelled);  // not Timeout: the stop ended it
  EXPECT_TRUE(isGone(worker));
  EXPECT_EQ(pool.workerCount(), 0u);

  const pid_t fresh = pidOf(runFake(pool, "pid"));
  EXPECT_GT(fresh, 0);
  EXPECT_NE(fresh, worker);

  // Already stopped: nothing is sent, and the idle worker stays.
  auto late = runFake(pool, "pid", stop.get_token()).outcome;
  EXPECT_EQ(late.error().code, ErrorCode::Cancelled);
  EXPECT_EQ(pidOf(runFake(pool, "pid")), fresh);
}

TEST(WorkerPool, StopEndsTheWaitForAFreeWorker) {
  WorkerPool pool(fakeOptions(60s, 1));
  std::stop_source holderStop;
  std::thread holder([&] { (void)runFake(pool, "hang", holderStop.get_token()); });
  while (pool.workerCount() == 0) std::this_thread::sleep_for(1ms);  // the holder has the only worker
  std::stop_source waiterStop;
  const std::jthread stopper = stopSoon(waiterStop);
  auto waited = runFake(pool, "pid", waiterStop.get_token()).outcome;
  ASSERT_FALSE(waited.ok());
  EXPECT_EQ(waited.error().code, ErrorCode::Cancelled);
  holderStop.request_stop();
  holder.join();
  EXPECT_EQ(pool.workerCount(), 0u);
}

// Guards against a repeated read landing on an idle worker that died a moment ago.
TEST(WorkerPool, FreshChoiceNeverTakesAnIdleWorker) {
  WorkerPool pool(fakeOptions(2s, 1));
  const pid_t idle = pidOf(runFake(pool, "pid"));
  ReplyHandlers handlers;
  pid_t fresh = -1;
  handlers.onEntries = [&](std::vector<protocol::Entry>& batch) {
    fresh = std::stoi(batch.at(0).name);
    return true;
  };
  ASSERT_TRUE(pool.run(protocol::Operation::ListDirectory, "smb://fake/pid", handlers, {}, WorkerChoice::Fresh).ok());
  EXPECT_NE(fresh, idle);
  EXPECT_TRUE(isGone(idle));  // retired to stay within the bound of one
  EXPECT_EQ(pool.workerCount(), 1u);
}

TEST(WorkerPool, AcceptedCredentialsReachEveryWorkerAfterOnePrompt) {
  ScriptedPrompt prompt({Credentials{"DOM", "alice", "secret"}});
  WorkerPoolOptions options = fakeOptions(2s, 4);
  options.prompt = &prompt;
  WorkerPool pool(options);
  std::vector<std::thread> threads;
  std::atomic<int> answered = 0;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      const auto ran = runFake(pool, "authpw:secret");
      if (ran.outcome.ok() && ran.names == std::vector<std::string>{"user=DOM\\alice:secret"}) ++answered;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(answered, 4);
  EXPECT_EQ(prompt.asked, 1);
  EXPECT_EQ(prompt.where, "FAKESRV/FAKESHARE");
  EXPECT_GT(pool.workerCount(), 1u);  // several workers asked, not one worker four times
}

// Answers only when released: a prompt left open on the screen.
class OpenPrompt : public CredentialPrompt {
 public:
  std::optional<CredentialAnswer> credentialsFor(std::string_view, std::string_view, std::stop_token) override {
    gate_.wait();
    return CredentialAnswer{Credentials{"", "alice", "secret"}};
  }
  void waitUntilAsking() { gate_.waitForWaiters(1); }
  void release() { gate_.open(); }

 private:
  vuv::testing::Gate gate_;
};

TEST(WorkerPool, StopWhileAnotherRequestsPromptIsOpenDoesNotWaitForIt) {
  OpenPrompt prompt;
  WorkerPoolOptions options = fakeOptions(60s, 2);
  options.prompt = &prompt;
  WorkerPool pool(options);
  std::thread asker([&] { EXPECT_TRUE(runFake(pool, "authpw:secret").outcome.ok()); });
  prompt.waitUntilAsking();

  // A second worker wants the same server's credentials and waits for that prompt's answer.
  std::stop_source stop;
  const std::jthread stopper = stopSoon(stop);
  auto waiting = runFake(pool, "authpw:secret", stop.get_token()).outcome;
  ASSERT_FALSE(waiting.ok());
  EXPECT_EQ(waiting.error().code, ErrorCode::Cancelled);

  prompt.release();
  asker.join();
}

TEST(WorkerPool, RefusedCredentialsAreForgottenAndAskedAgain) {
  ScriptedPrompt prompt({Credentials{"", "alice", "typo"}, Credentials{"", "alice", "secret"}});
  WorkerPoolOptions options = fakeOptions();
  options.prompt = &prompt;
  WorkerPool pool(options);
  EXPECT_EQ(runFake(pool, "authpw:secret").outcome.error().code, ErrorCode::AccessDenied);
  EXPECT_TRUE(runFake(pool, "authpw:secret").outcome.ok());
  EXPECT_TRUE(runFake(pool, "authpw:secret").outcome.ok());
  EXPECT_EQ(prompt.asked, 2);
}

TEST(WorkerPool, MissingWorkerExecutableIsAnErrorValue) {
  WorkerPoolOptions options = fakeOptions();
  options.workerPath = "/nonexistent/vuvuveva-smb-worker";
  WorkerPool pool(options);
  const auto ran = runFake(pool, "pid");
  ASSERT_FALSE(ran.outcome.ok());
  EXPECT_EQ(ran.outcome.error().systemCode, ENOENT);
  EXPECT_EQ(pool.workerCount(), 0u);
}

TEST(WorkerPool, DestructorReapsEveryWorkerAndKillsDeafOnes) {
  std::vector<pid_t> pids;
  const auto start = Clock::now();
  {
    WorkerPool pool(fakeOptions());
    pid_t held[2] = {-1, -1};
    std::thread first([&] { held[0] = pidOf(runFake(pool, "hold:100")); });
    std::thread second([&] { held[1] = pidOf(runFake(pool, "hold:100")); });
    first.join();
    second.join();
    pids = {held[0], held[1], pidOf(runFake(pool, "deaf"))};  // deaf ignores end of input
  }
  EXPECT_LT(Clock::now() - start, kGenerous);
  for (pid_t pid : pids) {
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(isGone(pid)) << pid;
  }
}

}  // namespace
}  // namespace vuv::smb
