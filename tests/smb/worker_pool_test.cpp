// The worker pool against fake workers: reuse, time limits, crashes, concurrency, the bound
// on workers, the credential prompt, cancellation and shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <stop_token>
#include <thread>

#include "fake_worker_pool.h"

namespace vuv::smb {
namespace {

using namespace std::chrono_literals;
using testing::fakeOptions;
using testing::isGone;
using testing::ListPrompt;
using testing::pidOf;
using testing::runFake;
using testing::runHungAndStop;

TEST(WorkerPool, ReusesAnIdleWorkerAndPassesTheHelloAndArguments) {
  WorkerPoolOptions options = fakeOptions(1500ms);
  options.credentials = Credentials{"DOM", "bob", "pw"};
  options.workerArguments = {"--configfile", "/my files/smb.conf", "--debuglevel", "3"};
  WorkerPool pool(options);
  const testing::Ran started = runFake(pool, "pid");
  const pid_t first = pidOf(started);
  EXPECT_GT(first, 0);
  EXPECT_TRUE(started.outcome->firstOfWorker);  // its time includes the worker's start
  const testing::Ran reused = runFake(pool, "pid");
  EXPECT_EQ(pidOf(reused), first);
  EXPECT_FALSE(reused.outcome->firstOfWorker);
  EXPECT_EQ(pool.workerCount(), 1u);
  // Each argument arrives whole, spaces included.
  EXPECT_EQ(runFake(pool, "hello").names,
            (std::vector<std::string>{"DOM|bob|pw|1500", "--configfile|/my files/smb.conf|--debuglevel|3"}));
}

// What /proc shows of a worker started while our environment names a password and a
// descriptor we were given stays open (a PASSWD_FD, say): none of those variables, nor that
// descriptor.
TEST(WorkerPool, WorkersInheritNoPasswordVariablesNorDescriptors) {
  const char* const secrets[] = {"PASSWD", "PASSWD_FD", "PASSWD_FILE"};
  for (const char* name : secrets) ::setenv(name, "s3cret", 1);
  char given[] = "/tmp/vuvuveva-given-XXXXXX";
  const int inherited = ::mkstemp(given);  // no close-on-exec, as a shell hands it over
  ASSERT_GE(inherited, 0);
  WorkerPool pool(fakeOptions());
  const pid_t worker = pidOf(runFake(pool, "pid"));
  for (const char* name : secrets) ::unsetenv(name);
  ::close(inherited);
  ASSERT_GT(worker, 0);
  const std::string proc = "/proc/" + std::to_string(worker);
  for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd")) {
    std::error_code error;
    EXPECT_EQ(std::filesystem::read_symlink(fd.path(), error).string().find(given), std::string::npos);
  }
  ::unlink(given);
  std::ifstream environ(proc + "/environ");
  const std::string variables((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
  EXPECT_EQ(variables.find("s3cret"), std::string::npos);
  EXPECT_NE(variables.find("PATH="), std::string::npos);  // the rest is passed on
}

TEST(WorkerPool, WorkerResultsMapToErrorsAndOutcomes) {
  WorkerPool pool(fakeOptions());
  const auto listed = runFake(pool, "list:250");
  ASSERT_TRUE(listed.outcome.ok());
  EXPECT_EQ(listed.names.size(), 250u);
  EXPECT_FALSE(listed.outcome->openedNothing);
  const auto empty = runFake(pool, "empty");
  ASSERT_TRUE(empty.outcome.ok());
  EXPECT_TRUE(empty.outcome->openedNothing);

  const auto failed = runFake(pool, "fail:2");
  ASSERT_FALSE(failed.outcome.ok());
  EXPECT_EQ(failed.outcome.error().code, ErrorCode::NotFound);
  EXPECT_EQ(failed.outcome.error().systemCode, 2);
  EXPECT_EQ(failed.outcome.error().detail, "fake fail:2");
  // The worker's word for an SMB1-only server outside the smb.conf range.
  const auto smb1 = runFake(pool, "fail:" + std::to_string(EPROTONOSUPPORT));
  ASSERT_FALSE(smb1.outcome.ok());
  EXPECT_EQ(smb1.outcome.error().code, ErrorCode::ProtocolNotAllowed);
  EXPECT_EQ(pool.workerCount(), 1u);  // failures reported by a worker do not cost it
}

// The limit runs from the last batch: a slow listing that keeps sending outlives it. Time a
// worker spends busy on the processor here is not the server's silence: its limit is extended,
// up to the bound (its processor time alone outlasts many limits, however loaded the machine).
TEST(WorkerPool, SilentRequestTimesOutButABusyWorkerGetsMoreTimeWithinItsBound) {
  WorkerPoolOptions options = fakeOptions(2s);
  options.busyExtensions = 1000;
  WorkerPool pool(options);
  // Twelve gaps of 200 ms: longer than the 2 s limit in all, each a tenth of it.
  const auto slow = runFake(pool, "slow:12:200");
  ASSERT_TRUE(slow.outcome.ok()) << describe(slow.outcome.error());
  EXPECT_EQ(slow.names.size(), 12u);
  const pid_t worker = pidOf(runFake(pool, "pid"));
  const auto hung = runFake(pool, "hang");
  ASSERT_FALSE(hung.outcome.ok());
  EXPECT_EQ(hung.outcome.error().code, ErrorCode::Timeout);
  EXPECT_TRUE(isGone(worker));
  EXPECT_EQ(pool.workerCount(), 0u);
  options.progressTimeout = 50ms;
  WorkerPool patient(options);
  EXPECT_TRUE(runFake(patient, "busy:500").outcome.ok());
  options.busyExtensions = 2;
  WorkerPool bounded(options);
  EXPECT_EQ(runFake(bounded, "busy:1000000").outcome.error().code, ErrorCode::Timeout);
}

// A worker that dies mid-reply or talks nonsense costs that request and that worker only.
TEST(WorkerPool, BrokenWorkerCostsOnlyItsRequest) {
  WorkerPool pool(fakeOptions());
  const std::pair<const char*, ErrorCode> cases[] = {
      {"crash", ErrorCode::WorkerCrashed}, {"crashmid", ErrorCode::WorkerCrashed},
      {"garbage", ErrorCode::Protocol}, {"wrongid", ErrorCode::Protocol}};
  for (const auto& [command, code] : cases) {
    const auto ran = runFake(pool, command);
    ASSERT_FALSE(ran.outcome.ok()) << command;
    EXPECT_EQ(ran.outcome.error().code, code) << command;
    EXPECT_EQ(pool.workerCount(), 0u) << command;
    EXPECT_GT(pidOf(runFake(pool, "pid")), 0) << command;
    EXPECT_EQ(pool.workerCount(), 1u) << command;
  }
}

// The hung request ends only when stopped, after the others: they cannot have waited for it.
TEST(WorkerPool, HungRequestDoesNotHoldUpOthers) {
  WorkerPool pool(fakeOptions(60s, 3));
  std::stop_source stopHung;
  vuv::testing::Gate hanging;
  std::thread hung([&] {
    EXPECT_EQ(runFake(pool, "hang", stopHung.get_token(), [&] { hanging.open(); }).outcome.error().code,
              ErrorCode::Cancelled);
  });
  hanging.wait();
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(runFake(pool, "list:5").outcome.ok());
  stopHung.request_stop();
  hung.join();
}

TEST(WorkerPool, NeverRunsMoreWorkersThanItsBound) {
  constexpr std::size_t kBound = 2;
  WorkerPool pool(fakeOptions(2s, kBound));
  std::mutex mutex;
  std::set<pid_t> pids;
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([&] {
      const auto ran = runFake(pool, "hold:50");
      std::lock_guard lock(mutex);
      EXPECT_TRUE(ran.outcome.ok());
      pids.insert(pidOf(ran));
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_LE(pids.size(), kBound);
}

// The worker keeps what it was given for a server; for an answer not to be remembered it must
// not outlive the request.
TEST(WorkerPool, AnswerNotRememberedEndsItsWorkerAndServesTheRunOnly) {
  ListPrompt twice({Credentials{"DOM", "alice", "secret"}, Credentials{"DOM", "bob", "pw"}}, /*remember=*/false);
  WorkerPoolOptions options = fakeOptions();
  options.prompt = &twice;
  WorkerPool pool(options);
  const char* const expected[] = {"user=DOM\\alice:secret", "user=DOM\\alice:secret", "user=DOM\\bob:pw"};
  for (int i = 0; i < 3; ++i) {
    if (i == 2) pool.startRun();
    EXPECT_EQ(runFake(pool, "auth").names, std::vector<std::string>{expected[i]});
    EXPECT_EQ(pool.workerCount(), 0u);  // no worker keeps them
  }
  EXPECT_EQ(twice.asked, 2);
}

TEST(WorkerPool, CredentialsGoOnlyToTheServerOfTheRequest) {
  ListPrompt prompt({Credentials{"DOM", "alice", "secret"}});
  WorkerPoolOptions options = fakeOptions();
  options.prompt = &prompt;
  WorkerPool pool(options);
  EXPECT_EQ(runFake(pool, "authother").outcome.error().code, ErrorCode::AccessDenied);
  EXPECT_EQ(prompt.asked, 0);  // a question about another server is not put to the person

  // The URL holds the address; the person is asked about the name they gave.
  std::vector<std::string> names;
  ReplyHandlers handlers;
  handlers.onEntries = [&](std::vector<protocol::Entry>& batch) {
    for (auto& e : batch) names.push_back(e.name);
    return true;
  };
  ASSERT_TRUE(pool.run(protocol::Operation::ListDirectory, "smb://10.0.0.5/auth", handlers, {}, WorkerChoice::Any, "S1").ok());
  EXPECT_EQ(prompt.where, "S1/FAKESHARE");
  ASSERT_TRUE(runFake(pool, "auth").outcome.ok());  // server "fake": S1's answer is not offered
  EXPECT_EQ(prompt.asked, 2);
  EXPECT_EQ(prompt.where, "fake/FAKESHARE");
}

TEST(WorkerPool, StopKillsTheWorkerAtOnceAndTheNextRequestGetsAFreshOne) {
  WorkerPool pool(fakeOptions(60s, 1));  // a time limit no test waits for
  pid_t worker = pidOf(runFake(pool, "pid"));
  auto hung = runHungAndStop(pool).outcome;
  ASSERT_FALSE(hung.ok());
  EXPECT_EQ(hung.error().code, ErrorCode::Cancelled);  // not Timeout: the stop ended it
  EXPECT_TRUE(isGone(worker));
  EXPECT_EQ(pool.workerCount(), 0u);
  // A handler that wants no more stops the request the same way.
  worker = pidOf(runFake(pool, "pid"));
  ReplyHandlers stopAtOnce;
  stopAtOnce.onEntries = [](std::vector<protocol::Entry>&) { return false; };
  auto outcome = pool.run(protocol::Operation::ListDirectory, "smb://fake/list:1000", stopAtOnce);
  EXPECT_EQ(outcome.error().code, ErrorCode::Cancelled);
  EXPECT_TRUE(isGone(worker));
  const pid_t fresh = pidOf(runFake(pool, "pid"));
  EXPECT_NE(fresh, worker);
  // Already stopped: nothing is sent, and the idle worker stays.
  std::stop_source stopped;
  stopped.request_stop();
  auto late = runFake(pool, "pid", stopped.get_token()).outcome;
  EXPECT_EQ(late.error().code, ErrorCode::Cancelled);
  EXPECT_EQ(pidOf(runFake(pool, "pid")), fresh);
}

// Whether the stop comes before the wait or during it, the answer is the same; a stop that
// did not end the wait would hang here.
TEST(WorkerPool, StopEndsTheWaitForAFreeWorker) {
  WorkerPool pool(fakeOptions(60s, 1));
  std::stop_source holderStop;
  vuv::testing::Gate holding;
  std::thread holder([&] { (void)runFake(pool, "hang", holderStop.get_token(), [&] { holding.open(); }); });
  holding.wait();  // the holder has the only worker
  std::stop_source waiterStop;
  const std::jthread stopper([&] { waiterStop.request_stop(); });
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
  ListPrompt prompt({Credentials{"DOM", "alice", "secret"}});
  WorkerPoolOptions options = fakeOptions(2s, 4);
  options.prompt = &prompt;
  WorkerPool pool(options);
  // The question stays open until every request has a worker of its own asking.
  prompt.beforeAnswer = [&] {
    while (pool.workerCount() < 4) std::this_thread::yield();
  };
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
  EXPECT_EQ(prompt.where, "fake/FAKESHARE");
  EXPECT_GT(pool.workerCount(), 1u);  // several workers asked, not one worker four times
}

TEST(WorkerPool, StopWhileAnotherRequestsPromptIsOpenDoesNotWaitForIt) {
  ListPrompt prompt({Credentials{"", "alice", "secret"}});
  vuv::testing::Gate onScreen;  // a prompt left open until released
  prompt.beforeAnswer = [&] { onScreen.wait(); };
  WorkerPoolOptions options = fakeOptions(60s, 2);
  options.prompt = &prompt;
  WorkerPool pool(options);
  std::thread asker([&] { EXPECT_TRUE(runFake(pool, "authpw:secret").outcome.ok()); });
  onScreen.waitForWaiters(1);

  // A second worker wants the same server's credentials and waits for that prompt's answer;
  // it is stopped once it has its worker.
  std::stop_source stop;
  const std::jthread stopper([&] {
    while (pool.workerCount() < 2) std::this_thread::yield();
    stop.request_stop();
  });
  auto waiting = runFake(pool, "authpw:secret", stop.get_token()).outcome;
  ASSERT_FALSE(waiting.ok());
  EXPECT_EQ(waiting.error().code, ErrorCode::Cancelled);

  onScreen.open();
  asker.join();
}

// No prompt or a refused answer: access denied, and the worker stays; a refused answer is
// forgotten and the next request asks again.
TEST(WorkerPool, MissingOrRefusedCredentialsMeanAccessDenied) {
  WorkerPool withoutPrompt(fakeOptions());
  EXPECT_EQ(runFake(withoutPrompt, "auth").outcome.error().code, ErrorCode::AccessDenied);
  ListPrompt prompt({Credentials{"", "alice", "typo"}, Credentials{"", "alice", "secret"}});
  WorkerPoolOptions options = fakeOptions();
  options.prompt = &prompt;
  WorkerPool pool(options);
  EXPECT_EQ(runFake(pool, "authpw:secret").outcome.error().code, ErrorCode::AccessDenied);
  EXPECT_TRUE(runFake(pool, "authpw:secret").outcome.ok());
  EXPECT_TRUE(runFake(pool, "authpw:secret").outcome.ok());
  EXPECT_EQ(prompt.asked, 2);
  EXPECT_EQ(withoutPrompt.workerCount() + pool.workerCount(), 2u);
}

// A worker that asks again within a request was refused what it got: a mistyped password is
// asked for again at once, and a share that refuses its server's accepted log-on gets a
// question of its own.
TEST(WorkerPool, AskedAgainInOneRequestTheCacheLearnsOfTheRefusal) {
  ListPrompt prompt({Credentials{"", "alice", "typo"}, Credentials{"", "alice", "secret"},
                     Credentials{"", "bob", "vault"}});
  WorkerPoolOptions options = fakeOptions();
  options.prompt = &prompt;
  WorkerPool pool(options);
  EXPECT_EQ(runFake(pool, "authagain:secret").names, std::vector<std::string>{"user=\\alice:secret"});
  EXPECT_EQ(prompt.asked, 2);
  EXPECT_EQ(prompt.reason, LogOnReason::GuestRefused);
  EXPECT_EQ(runFake(pool, "authagain:vault").names, std::vector<std::string>{"user=\\bob:vault"});
  EXPECT_EQ(prompt.asked, 3);
  EXPECT_EQ(prompt.reason, LogOnReason::ServerLogOnRefused);
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
  {
    WorkerPool pool(fakeOptions());
    pid_t held[2] = {-1, -1};
    std::thread first([&] { held[0] = pidOf(runFake(pool, "hold:100")); });
    std::thread second([&] { held[1] = pidOf(runFake(pool, "hold:100")); });
    first.join();
    second.join();
    pids = {held[0], held[1], pidOf(runFake(pool, "deaf"))};  // deaf ignores end of input
  }
  for (pid_t pid : pids) {
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(isGone(pid)) << pid;
  }
}

}  // namespace
}  // namespace vuv::smb
