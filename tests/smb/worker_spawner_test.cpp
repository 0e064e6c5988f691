// Workers forked by the spawn server: they are the program's own children with the worker's
// arguments, and a failed server costs nothing but the fast start.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "smb/client/worker_spawner.h"

namespace vuv::smb {
namespace {

// The names the fake worker answers `command` with (fake_worker.cpp).
std::vector<std::string> ask(WorkerProcess& worker, const std::string& command) {
  std::vector<std::string> names;
  const protocol::Request request{1, protocol::Operation::ListDirectory, "smb://fake/" + command};
  if (!worker.channel().send(request)) return names;
  while (true) {
    auto message = worker.channel().receive(Clock::now() + std::chrono::seconds(10));
    if (!message || !message->has_value()) return {"(no answer)"};
    if (auto* batch = std::get_if<protocol::EntriesBatch>(&**message)) {
      for (auto& entry : batch->entries) names.push_back(entry.name);
    } else if (std::holds_alternative<protocol::Done>(**message)) {
      return names;
    }
  }
}

pid_t parentOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // "pid (comm) state ppid ...": the name may hold spaces, so count from its closing bracket.
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  char state = 0;
  pid_t parent = 0;
  rest >> state >> parent;
  return parent;
}

TEST(WorkerSpawner, ForkedWorkersAreOurChildrenAndAFailedServerMeansFreshStarts) {
  WorkerSpawner spawner(VUV_FAKE_WORKER_PATH, {"--debuglevel", "3"});
  auto forked = spawner.start();
  ASSERT_TRUE(forked.ok());
  WorkerProcess& first = **forked;
  const auto server = spawner.serverPid();
  ASSERT_TRUE(server.has_value());
  EXPECT_NE(*server, first.pid());
  EXPECT_EQ(parentOf(first.pid()), ::getpid());
  ASSERT_TRUE(first.channel().send(protocol::Hello{}));
  EXPECT_EQ(ask(first, "pid"), std::vector<std::string>{std::to_string(first.pid())});
  // The worker's own arguments, without the server's flag.
  EXPECT_EQ(ask(first, "hello").at(1), "--debuglevel|3");

  ::kill(*server, SIGKILL);
  auto fresh = spawner.start();
  ASSERT_TRUE(fresh.ok());
  EXPECT_FALSE(spawner.serverPid().has_value());
  ASSERT_TRUE((*fresh)->channel().send(protocol::Hello{}));
  EXPECT_EQ(ask(**fresh, "pid"), std::vector<std::string>{std::to_string((*fresh)->pid())});
  // One signalled to die (a stop as its request ended) is not used again, gone or not yet.
  EXPECT_TRUE((*fresh)->idleAndAlive());
  (*fresh)->interrupt();
  EXPECT_FALSE((*fresh)->idleAndAlive());

  // Reaped by us, as a child of ours: its exit status is known.
  first.closeChannel();
  EXPECT_EQ(first.reap(Clock::now() + std::chrono::seconds(10)), "exited with status 0");
}

}  // namespace
}  // namespace vuv::smb
