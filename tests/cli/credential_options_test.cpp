#include "cli/credential_options.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace {
std::atomic<const char*> watched = nullptr;
std::atomic<int> freedWithSecret = 0;
}  // namespace

// Memory freed while `watched` is set is searched for it. Not under the sanitizers, which bring
// their own allocator.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
void operator delete(void* p, std::size_t size) noexcept {
  const char* secret = watched;
  if (secret != nullptr && p != nullptr && ::memmem(p, size, secret, std::strlen(secret)) != nullptr) ++freedWithSecret;
  std::free(p);
}
void operator delete(void* p) noexcept { operator delete(p, p == nullptr ? 0 : ::malloc_usable_size(p)); }
#endif

namespace vuv::cli {
namespace {

// A text and the credentials read from it.
struct CredentialsCase {
  const char* text;
  const char* domain;
  const char* user;
  const char* password;
  bool hasPassword;
};

void expectCredentials(const UserArgument& got, const CredentialsCase& c) {
  EXPECT_EQ(got.credentials.domain, c.domain);
  EXPECT_EQ(got.credentials.user, c.user);
  EXPECT_EQ(got.credentials.password, c.password);
  EXPECT_EQ(got.hasPassword, c.hasPassword);
}

TEST(CredentialOptions, UserArgumentForms) {
  const CredentialsCase cases[] = {
      {"joe", "", "joe", "", false},
      {"joe%", "", "joe", "", true},
      {"joe%p%ss", "", "joe", "p%ss", true},  // only the first % separates
      {"DOM\\joe%pw", "DOM", "joe", "pw", true},
      {"DOM/joe", "DOM", "joe", "", false},
      {"joe%a\\b/c ", "", "joe", "a\\b/c ", true},  // separators inside the password stay
  };
  for (const CredentialsCase& c : cases) {
    SCOPED_TRACE(c.text);
    expectCredentials(parseUserArgument(c.text), c);
  }
}

TEST(CredentialOptions, AuthenticationFileLines) {
  const CredentialsCase cases[] = {
      {"username = anna\npassword = pw\ndomain = OFFICE\n", "OFFICE", "anna", "pw", true},
      {"Username=anna\nPASSWORD=pw\nDomain=OFFICE", "OFFICE", "anna", "pw", true},  // keys in any case
      {"username = OFFICE\\anna%s3 cret\n", "OFFICE", "anna", "s3 cret", true},
      {"  username\t=\tanna\n", "", "anna", "", false},
      // The password keeps inner and trailing blanks; only the line end goes.
      {"username = anna\npassword =  s3 cret \r\n", "", "anna", "s3 cret ", true},
      {"username = anna\npassword = a=b#c;d\n", "", "anna", "a=b#c;d", true},
      {"username = anna\npassword = x\r\r\n", "", "anna", "x\r", true},  // a lone CR is text
      {"username = anna\npassword =\n", "", "anna", "", true},          // empty, but given
      {"# comment\n\n   ; another\nusername = anna\n", "", "anna", "", false},
      {"domain = WG\nusername = bob\n", "WG", "bob", "", false},
      {"username = DOM\\bob\ndomain = WG\n", "WG", "bob", "", false},  // the last line wins
      {"username =\n", "", "", "", false},
      {"username = DOM\\anna %pw \n", "DOM", "anna", "pw ", true},
  };
  for (const CredentialsCase& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = parseAuthenticationText(c.text);
    ASSERT_TRUE(parsed.ok()) << parsed.error().detail;
    expectCredentials(*parsed, c);
  }
}

TEST(CredentialOptions, AuthenticationFileMistakes) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"username anna\n", "line 1: expected key = value"},
      {"username = anna\npasswd = x\n", "line 2: unknown key 'passwd' (username, password or domain)"},
      {"= x\n", "line 1: unknown key ''"},
      {"password = x\n", "a password but no username"},  // would log on as guest
      {"username = %x\n", "a password but no username"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = parseAuthenticationText(c.text);
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error().code, ErrorCode::BadFormat);
    EXPECT_NE(parsed.error().detail.find(c.message), std::string::npos) << parsed.error().detail;
  }
}

// Sources that record what was consulted.
struct FakeSources {
  std::map<std::string, std::string> environment;
  std::map<std::string, std::string> files;
  std::optional<std::string> typed;  // nullopt: no terminal
  std::vector<std::string> prompts;

  PasswordSources sources() {
    PasswordSources s;
    s.environment = [this](const char* name) -> std::optional<std::string> {
      if (auto it = environment.find(name); it != environment.end()) return it->second;
      return std::nullopt;
    };
    s.readDescriptor = [this](int fd) -> Result<std::string> {
      if (auto it = files.find("fd" + std::to_string(fd)); it != files.end()) return it->second;
      return makeError(ErrorCode::Io, "fd", 9);
    };
    s.readFile = [this](const std::string& path) -> Result<std::string> {
      if (auto it = files.find(path); it != files.end()) return it->second;
      return makeError(ErrorCode::Io, path, 2);
    };
    s.ask = [this](const std::string& prompt) {
      prompts.push_back(prompt);
      return typed;
    };
    return s;
  }
};

TEST(CredentialOptions, WhereTheMissingPasswordComesFrom) {
  using Kerberos = ConnectionOptions::Kerberos;
  struct Case {
    const char* name;
    ConnectionOptions options;
    std::map<std::string, std::string> environment;
    std::string password;
    std::string prompt;  // empty: nobody asked
  };
  const auto user = [](const char* text, bool noPassword = false, Kerberos kerberos = Kerberos::Off) {
    ConnectionOptions options;
    const UserArgument parsed = parseUserArgument(text);
    options.credentials = parsed.credentials;
    options.userGiven = true;
    options.passwordGiven = parsed.hasPassword;
    options.noPassword = noPassword;
    options.kerberos = kerberos;
    return options;
  };
  const Case cases[] = {
      {"asks for a named user", user("DOM\\joe"), {}, "typed", "Password for DOM\\joe: "},
      {"given password", user("joe%given"), {{"PASSWD", "env"}}, "given", ""},
      {"given empty password", user("joe%"), {{"PASSWD", "env"}}, "", ""},
      {"PASSWD", user("joe"), {{"PASSWD", " env "}}, " env ", ""},
      {"PASSWD empty", user("joe"), {{"PASSWD", ""}}, "", ""},
      {"PASSWD before PASSWD_FD", user("joe"), {{"PASSWD", "env"}, {"PASSWD_FD", "3"}}, "env", ""},
      {"PASSWD_FD", user("joe"), {{"PASSWD_FD", "3"}, {"PASSWD_FILE", "/pw"}}, "from fd", ""},
      {"PASSWD_FILE", user("joe"), {{"PASSWD_FILE", "/pw"}}, "from file ", ""},
      {"-N drops every password", user("joe%given", true), {{"PASSWD", "env"}}, "", ""},
      {"Kerberos needs no prompt", user("joe", false, Kerberos::Desired), {}, "", ""},
      {"anonymous", ConnectionOptions{}, {{"PASSWD", "env"}}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSources fake{c.environment, {{"fd3", "from fd"}, {"/pw", "from file "}}, "typed", {}};
    auto resolved = resolveCredentials(c.options, fake.sources());
    ASSERT_TRUE(resolved.ok()) << resolved.error().detail;
    EXPECT_EQ(resolved->password, c.password);
    EXPECT_EQ(fake.prompts, c.prompt.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.prompt});
  }
}

TEST(CredentialOptions, EnvironmentThatCannotBeRead) {
  ConnectionOptions options;
  options.credentials.user = "joe";
  options.userGiven = true;
  for (const auto& [name, value] : std::map<std::string, std::string>{{"PASSWD_FD", "x3"},
                                                                      {"PASSWD_FILE", "/missing"}}) {
    SCOPED_TRACE(name);
    FakeSources fake{{{name, value}}, {}, "typed", {}};
    auto resolved = resolveCredentials(options, fake.sources());
    ASSERT_FALSE(resolved.ok());
    EXPECT_NE(resolved.error().detail.find(value), std::string::npos) << resolved.error().detail;
    EXPECT_TRUE(fake.prompts.empty());  // a broken setting is reported, not replaced by a prompt
  }
}

TEST(CredentialOptions, AuthenticationFileAgainstTheCommandLine) {
  const std::string path = ::testing::TempDir() + "vuv-credentials-" + std::to_string(::getpid());
  {
    std::ofstream file(path, std::ios::binary);
    file << "username = OFFICE\\anna\n";
  }
  ConnectionOptions options;
  options.authenticationFile = path;
  FakeSources fake{{{"PASSWD", "env"}}, {}, "typed", {}};
  auto resolved = resolveCredentials(options, fake.sources());
  ASSERT_TRUE(resolved.ok()) << resolved.error().detail;
  EXPECT_EQ(resolved->user, "anna");
  EXPECT_EQ(resolved->password, "env");  // the file names no password

  options.credentials = parseUserArgument("joe%pw").credentials;  // -U wins over the file
  options.userGiven = options.passwordGiven = true;
  resolved = resolveCredentials(options, fake.sources());
  ASSERT_TRUE(resolved.ok());
  EXPECT_EQ(resolved->user, "joe");
  EXPECT_EQ(resolved->domain, "");

  options = ConnectionOptions{};
  for (const std::string& unreadable : {path + ".missing", ::testing::TempDir()}) {
    SCOPED_TRACE(unreadable);  // a directory must not read as an empty file: guest access
    options.authenticationFile = unreadable;
    resolved = resolveCredentials(options, fake.sources());
    ASSERT_FALSE(resolved.ok());
    EXPECT_EQ(resolved.error().code, ErrorCode::Io);
  }
  std::remove(path.c_str());
}

// The parser's copies of a password and those the PASSWD_FD reading makes are overwritten
// before their memory is freed.
TEST(CredentialOptions, PasswordCopiesAreOverwrittenBeforeTheyAreFreed) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers bring their own allocator";
#endif
  constexpr char kSecret[] = "Open-Sesame-0123456789";  // too long to be kept inside a string
  std::vector<std::string> args{"discover", "-U", "joe%", "--password", ""};
  args[2] += kSecret;  // no copy freed before the watch: it would look like a leak
  args[4] = kSecret;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "Open-Sesame-0123456789\nmore\n", 28), 28);
  ::close(fds[1]);
  ConnectionOptions options;
  options.credentials.user = "joe";
  options.userGiven = true;
  PasswordSources sources = systemPasswordSources();
  sources.environment = [&](const char* name) {
    return std::string_view(name) == "PASSWD_FD" ? std::optional(std::to_string(fds[0])) : std::nullopt;
  };
  watched = kSecret;
  {
    auto parsed = parseArguments(args);
    auto resolved = resolveCredentials(options, sources);
    EXPECT_TRUE(parsed.ok() && parsed->connection.credentials.password == kSecret && resolved.ok() &&
                resolved->password == kSecret);
  }
  watched = nullptr;
  ::close(fds[0]);
  EXPECT_EQ(freedWithSecret, 0);
}

TEST(CredentialOptions, WorkgroupIsTheDefaultDomain) {
  using Case = std::pair<const char*, const char*>;  // -U and the domain logged on to
  for (const auto& [user, domain] : std::initializer_list<Case>{{"joe%pw", "WG"}, {"DOM\\joe%pw", "DOM"}}) {
    ConnectionOptions options;
    options.workgroup = "WG";
    options.credentials = parseUserArgument(user).credentials;
    options.userGiven = options.passwordGiven = true;
    FakeSources fake;
    auto resolved = resolveCredentials(options, fake.sources());
    ASSERT_TRUE(resolved.ok());
    EXPECT_EQ(resolved->domain, domain);
  }
}

}  // namespace
}  // namespace vuv::cli
