#include "cli/argument_wipe.h"

#include <gtest/gtest.h>

#include <cstring>

#include "cli/cli_options.h"

namespace vuv::cli {
namespace {

// argv as the kernel lays it out: one block of NUL-terminated strings.
class ArgumentBlock {
 public:
  explicit ArgumentBlock(const std::vector<std::string>& args) {
    for (const auto& a : args) block_.insert(block_.end(), a.c_str(), a.c_str() + a.size() + 1);
    std::size_t offset = 0;
    for (const auto& a : args) {
      argv_.push_back(block_.data() + offset);
      offset += a.size() + 1;
    }
  }
  int argc() const { return static_cast<int>(argv_.size()); }
  char** argv() { return argv_.data(); }
  std::string block() const { return std::string(block_.begin(), block_.end()); }

 private:
  std::vector<char> block_;
  std::vector<char*> argv_;
};

TEST(ArgumentWipe, PasswordsLeaveTheArgumentsTheParserReads) {
  struct Case {
    std::vector<std::string> args;  // after the program name
    const char* kept;               // still readable afterwards
  };
  const Case cases[] = {
      {{"discover", "-U", "DOM\\joe%sesame"}, "DOM\\joe%"},
      {{"discover", "-Ujoe%sesame"}, "-Ujoe%"},
      {{"discover", "--user", "joe%sesame"}, "joe%"},
      {{"discover", "--user=joe%sesame"}, "--user=joe%"},
      {{"discover", "-NUjoe%sesame"}, "-NUjoe%"},
      {{"discover", "-kN", "-U", "joe%sesame"}, "joe%"},
      {{"discover", "-U", "joe", "--password", "sesame"}, "--password"},
      {{"discover", "-U", "joe", "--password=sesame"}, "--password="},
      {{"discover", "-j2", "-Ujoe%ses%ame", "-t", "3"}, "-Ujoe%"},
      {{"search", "--location", "\\\\S", "--pattern", "*", "-Ujoe%sesame"}, "\\\\S"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"vuvuveva-cli"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(args.back());
    auto parsed = parseArguments(c.args);
    ASSERT_TRUE(parsed.ok()) << parsed.error().detail;
    const std::string password = parsed->connection.credentials.password;
    ASSERT_FALSE(password.empty());

    ArgumentBlock block(args);
    wipePasswordArguments(block.argc(), block.argv());
    const std::string after = block.block();
    EXPECT_EQ(after.find(password), std::string::npos);
    EXPECT_EQ(after.find("ses"), std::string::npos);
    EXPECT_NE(after.find(c.kept), std::string::npos);
  }
}

TEST(ArgumentWipe, LeavesEverythingElse) {
  const std::vector<std::vector<std::string>> untouched = {
      {"vuvuveva-cli", "tree", "--", "-Ujoe%x.brk"},  // a file name after --
      {"vuvuveva-cli", "discover", "-A", "a%b"},       // -A FILE, not -U
      {"vuvuveva-cli", "discover", "-AUx%y"},          // -A with its value attached
      {"vuvuveva-cli", "discover", "--users=a%b"},
      {"vuvuveva-cli", "discover", "-U"},              // no value to wipe
  };
  for (const auto& args : untouched) {
    SCOPED_TRACE(args.back());
    ArgumentBlock block(args);
    const std::string before = block.block();
    wipePasswordArguments(block.argc(), block.argv());
    EXPECT_EQ(block.block(), before);
  }
}

}  // namespace
}  // namespace vuv::cli
