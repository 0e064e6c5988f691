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
  explicit ListPrompt(std::vector<std::optional<Credentials>> answers) : answers_(std::move(answers)) {}
  std::optional<Credentials> credentialsFor(std::string_view, std::string_view, std::stop_token) override {
    return answers_.at(asked++);
  }
  std::size_t asked = 0;

 private:
  std::vector<std::optional<Credentials>> answers_;
};

const Credentials kAlice{"", "alice", "a"};
const Credentials kBob{"", "bob", "b"};

std::string userOf(const std::optional<Credentials>& c) { return c ? c->user : "(none)"; }

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

}  // namespace
}  // namespace vuv::smb
