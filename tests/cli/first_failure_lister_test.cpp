#include "cli/first_failure_lister.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace vuv::cli {
namespace {

// Lists every folder as empty except those given an error.
class ScriptedLister final : public DirectoryLister {
 public:
  std::map<std::string, Error> failures;
  Result<std::vector<DirectoryEntry>> list(std::string_view uncFolder, std::stop_token) override {
    const auto it = failures.find(std::string(uncFolder));
    if (it != failures.end()) return it->second;
    return std::vector<DirectoryEntry>{};
  }
};

TEST(FirstFailureLister, KeepsTheFirstNetworkFailureAndPassesEveryResultOn) {
  ScriptedLister inner;
  inner.failures["\\\\S\\stopped"] = makeError(ErrorCode::Cancelled, "stopped");
  inner.failures["\\\\S\\old"] = makeError(ErrorCode::ProtocolNotAllowed, "old");
  inner.failures["\\\\S\\denied"] = makeError(ErrorCode::AccessDenied, "denied");
  FirstFailureLister lister(inner);

  EXPECT_TRUE(lister.list("\\\\S\\fine", {}).ok());
  EXPECT_FALSE(lister.firstFailure());
  // A stop is the user's doing: it must not stand in for the network's reason.
  EXPECT_FALSE(lister.list("\\\\S\\stopped", {}).ok());
  EXPECT_FALSE(lister.firstFailure());

  const auto old = lister.list("\\\\S\\old", {});
  ASSERT_FALSE(old.ok());
  EXPECT_EQ(old.error().code, ErrorCode::ProtocolNotAllowed);
  EXPECT_FALSE(lister.list("\\\\S\\denied", {}).ok());
  ASSERT_TRUE(lister.firstFailure());
  EXPECT_EQ(lister.firstFailure()->code, ErrorCode::ProtocolNotAllowed);
  EXPECT_EQ(lister.firstFailure()->detail, "old");
}

}  // namespace
}  // namespace vuv::cli
