// The session's credential cache on its own: which answer a worker gets, and when the person
// is asked again (what the pool does with the answers: worker_pool_test.cpp).
#include <gtest/gtest.h>

#include "fake_worker_pool.h"
#include "smb/client/credential_cache.h"

namespace vuv::smb {
namespace {

using testing::ListPrompt;

const Credentials kAlice{"", "alice", "a"};
const Credentials kBob{"", "bob", "b"};

std::string userOf(const std::optional<CredentialAnswer>& c) { return c ? c->credentials.user : "(none)"; }

TEST(CredentialCache, ServerAnswerServesEveryShareUntilAShareRefusesIt) {
  ListPrompt prompt({kAlice, kBob});
  CredentialCache cache(&prompt);
  // A call that may not prompt (a discovery's) asks no one and declines nothing for later.
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Docs", {}, false)), "(none)");
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Docs", {})), "alice");
  cache.accepted("SRV", "Docs", kAlice);
  // Other shares and other spellings of the server: no question; known answers for all.
  EXPECT_EQ(userOf(cache.credentialsFor("srv", "Media", {}, false)), "alice");
  EXPECT_EQ(prompt.asked, 1);

  // A share that refuses credentials its server took elsewhere gets its own question...
  cache.refused("SRV", "Private", kAlice);
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Private", {})), "bob");
  // ...and the server's other shares keep the first answer.
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Media", {})), "alice");
  EXPECT_EQ(prompt.asked, 2);
}

// A declined question is not repeated for that server in the run, and asked again in the next,
// or when the person asks to be asked about that one server (a log-on). Here the session has
// credentials of its own: the question is about those.
TEST(CredentialCache, DeclinedQuestionLastsOneRun) {
  ListPrompt prompt({std::nullopt, std::nullopt, kAlice, kBob});
  CredentialCache cache(&prompt, /*credentialsGiven=*/true);
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Docs", {})), "(none)");
  EXPECT_EQ(prompt.reason, LogOnReason::GivenLogOnRefused);
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Media", {})), "(none)");
  EXPECT_EQ(userOf(cache.credentialsFor("OTHER", "Docs", {})), "(none)");
  EXPECT_EQ(prompt.asked, 2);
  cache.askAgain("srv");
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "", {})), "alice");
  EXPECT_EQ(userOf(cache.credentialsFor("OTHER", "Docs", {})), "(none)");
  EXPECT_EQ(prompt.asked, 3);
  cache.startRun();
  EXPECT_EQ(userOf(cache.credentialsFor("OTHER", "Docs", {})), "bob");
  EXPECT_EQ(prompt.asked, 4);
}

}  // namespace
}  // namespace vuv::smb
