// The session's credential cache on its own: which answer a worker gets, and when the person
// is asked again.
#include <gtest/gtest.h>

#include <stop_token>
#include <vector>

#include "smb/client/credential_cache.h"

namespace vuv::smb {
namespace {

// Hands out its answers in turn and counts the questions.
class ListPrompt : public CredentialPrompt {
 public:
  explicit ListPrompt(std::vector<std::optional<Credentials>> answers, bool remember = true)
      : answers_(std::move(answers)), remember_(remember) {}
  std::optional<CredentialAnswer> credentialsFor(std::string_view, std::string_view, std::stop_token) override {
    const std::optional<Credentials>& answer = answers_.at(asked++);
    if (!answer) return std::nullopt;
    return CredentialAnswer{*answer, remember_};
  }
  std::size_t asked = 0;

 private:
  std::vector<std::optional<Credentials>> answers_;
  bool remember_;
};

const Credentials kAlice{"", "alice", "a"};
const Credentials kBob{"", "bob", "b"};

std::string userOf(const std::optional<CredentialAnswer>& c) { return c ? c->credentials.user : "(none)"; }

TEST(CredentialCache, ServerAnswerServesEveryShareUntilAShareRefusesIt) {
  ListPrompt prompt({kAlice, kBob});
  CredentialCache cache(&prompt);
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Docs", {})), "alice");
  cache.accepted("SRV", "Docs", kAlice);
  // Other shares and other spellings of the server: no question.
  EXPECT_EQ(userOf(cache.credentialsFor("srv", "Media", {})), "alice");
  EXPECT_EQ(prompt.asked, 1u);

  // A share that refuses credentials its server took elsewhere gets its own question...
  cache.refused("SRV", "Private", kAlice);
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Private", {})), "bob");
  // ...and the server's other shares keep the first answer.
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Media", {})), "alice");
  EXPECT_EQ(prompt.asked, 2u);
}

TEST(CredentialCache, WrongPasswordIsForgottenAndADeclinedPromptNotRepeated) {
  ListPrompt prompt({kAlice, std::nullopt});
  CredentialCache cache(&prompt);
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "", {})), "alice");
  cache.refused("SRV", "", kAlice);  // never accepted anywhere: a typo, ask again
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "", {})), "(none)");
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Docs", {})), "(none)");
  EXPECT_EQ(prompt.asked, 2u);
  // A refusal of credentials already replaced changes nothing.
  cache.refused("OTHER", "", kBob);

  CredentialCache withoutPrompt(nullptr);
  EXPECT_EQ(userOf(withoutPrompt.credentialsFor("SRV", "", {})), "(none)");
}

TEST(CredentialCache, AnswerNotToBeRememberedAndADeclinedPromptLastOneRun) {
  ListPrompt prompt({kAlice, std::nullopt, kBob}, /*remember=*/false);
  CredentialCache cache(&prompt);
  const auto first = cache.credentialsFor("SRV", "Docs", {});
  EXPECT_EQ(userOf(first), "alice");
  EXPECT_FALSE(first->remember);
  cache.accepted("SRV", "Docs", kAlice);
  // The rest of the run: no question, and every request is told not to keep them.
  const auto again = cache.credentialsFor("SRV", "Media", {});
  EXPECT_EQ(userOf(again), "alice");
  EXPECT_FALSE(again->remember);
  EXPECT_EQ(prompt.asked, 1u);

  // The next run asks again; a declined question stays declined for that run only.
  cache.startRun();
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Docs", {})), "(none)");
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Docs", {})), "(none)");
  EXPECT_EQ(prompt.asked, 2u);
  cache.startRun();
  EXPECT_EQ(userOf(cache.credentialsFor("SRV", "Docs", {})), "bob");
  EXPECT_EQ(prompt.asked, 3u);
}

}  // namespace
}  // namespace vuv::smb
