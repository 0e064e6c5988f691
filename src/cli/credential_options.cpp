#include "cli/credential_options.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "base/secret.h"
#include "cli/terminal_prompt.h"

namespace vuv::cli {

namespace {

constexpr std::size_t kMaxAuthenticationFileBytes = 64 * 1024;
constexpr std::size_t kMaxPasswordBytes = 4096;
constexpr std::string_view kBlanks = " \t";

std::string_view trimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The line without its end: LF, or CR LF. A lone CR is part of the text.
std::string_view withoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

Error fileError(const std::string& path, const Error& error) {
  return makeError(error.code, path + ": " + error.detail, error.systemCode);
}

// The first line of what `fd` delivers, read to its end or to the first LF.
Result<std::string> readFirstLine(int fd, const std::string& what) {
  char buffer[256];
  std::string text;
  text.reserve(kMaxPasswordBytes + sizeof buffer);  // never reallocated: no copy left behind
  Status status = success();
  while (status && text.find('\n') == std::string::npos) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) status = makeError(ErrorCode::Io, what, errno);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxPasswordBytes) status = makeError(ErrorCode::BadFormat, what + ": too long for a password");
  }
  wipeSecret(buffer, sizeof buffer);
  const std::size_t kept = withoutLineEnd(std::string_view(text).substr(0, text.find('\n'))).size();
  wipeSecret(text.data() + kept, text.size() - kept);
  text.resize(kept);
  if (!status) {
    wipeSecret(text);
    return status.error();
  }
  return text;
}

// nullopt when the environment names no password.
Result<std::optional<std::string>> passwordFromEnvironment(const PasswordSources& sources) {
  if (auto password = sources.environment("PASSWD")) return password;
  if (auto fdText = sources.environment("PASSWD_FD")) {
    int fd = -1;
    const auto [end, ec] = std::from_chars(fdText->data(), fdText->data() + fdText->size(), fd);
    if (ec != std::errc() || end != fdText->data() + fdText->size() || fd < 0) {
      return makeError(ErrorCode::BadFormat, "PASSWD_FD is not a file descriptor number: " + *fdText);
    }
    auto line = sources.readDescriptor(fd);
    if (!line) return line.error();
    return std::optional<std::string>(std::move(*line));
  }
  if (auto path = sources.environment("PASSWD_FILE")) {
    auto line = sources.readFile(*path);
    if (!line) return line.error();
    return std::optional<std::string>(std::move(*line));
  }
  return std::optional<std::string>();
}

}  // namespace

UserArgument parseUserArgument(std::string_view text) {
  UserArgument result;
  if (const auto percent = text.find('%'); percent != std::string_view::npos) {
    result.credentials.password.assign(text.substr(percent + 1));
    result.hasPassword = true;
    text = text.substr(0, percent);
  }
  if (const auto separator = text.find_first_of("\\/"); separator != std::string_view::npos) {
    result.credentials.domain = std::string(text.substr(0, separator));
    text = text.substr(separator + 1);
  }
  result.credentials.user = std::string(text);
  return result;
}

Result<UserArgument> parseAuthenticationText(std::string_view text) {
  UserArgument result;
  Credentials& credentials = result.credentials;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto end = text.find('\n');
    const std::string_view line = withoutLineEnd(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    const std::string_view content = trimBlanks(line);
    if (content.empty() || content.front() == '#' || content.front() == ';') continue;

    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return makeError(ErrorCode::BadFormat, where + "expected key = value");
    const std::string_view key = trimBlanks(line.substr(0, equals));
    std::string_view value = line.substr(equals + 1);
    value.remove_prefix(std::min(value.size(), value.find_first_not_of(kBlanks)));

    if (equalsIgnoringCase(key, "username")) {
      // Blanks end the name, but belong to a password after '%'.
      const auto percent = value.find('%');
      const UserArgument user = parseUserArgument(trimBlanks(value.substr(0, percent)));
      credentials.user = user.credentials.user;
      if (!user.credentials.domain.empty()) credentials.domain = user.credentials.domain;
      if (percent != std::string_view::npos) {
        assignSecret(credentials.password, value.substr(percent + 1));
        result.hasPassword = true;
      }
    } else if (equalsIgnoringCase(key, "password")) {
      assignSecret(credentials.password, value);
      result.hasPassword = true;
    } else if (equalsIgnoringCase(key, "domain")) {
      credentials.domain = std::string(trimBlanks(value));
    } else {
      return makeError(ErrorCode::BadFormat,
                       where + "unknown key '" + std::string(key) + "' (username, password or domain)");
    }
  }
  if (result.hasPassword && credentials.user.empty()) {
    return makeError(ErrorCode::BadFormat, "a password but no username");
  }
  return result;
}

Result<UserArgument> readAuthenticationFile(const std::string& path) {
  // read(2) rather than a stream: a directory must fail (EISDIR), and a pipe (-A <(...)) work.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return makeError(ErrorCode::Io, path, errno);
  char buffer[4096];
  std::string text;
  text.reserve(kMaxAuthenticationFileBytes);  // never reallocated: no copy of a password left behind
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() + static_cast<std::size_t>(n) > kMaxAuthenticationFileBytes) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  const int readErrno = errno;
  ::close(fd);
  wipeSecret(buffer, sizeof buffer);
  if (n != 0) {
    wipeSecret(text);
    return n < 0 ? makeError(ErrorCode::Io, path, readErrno)
                 : makeError(ErrorCode::BadFormat, path + ": too large for an authentication file");
  }
  auto parsed = parseAuthenticationText(text);
  wipeSecret(text);
  if (!parsed) return fileError(path, parsed.error());
  return parsed;
}

PasswordSources systemPasswordSources() {
  PasswordSources sources;
  sources.environment = [](const char* name) -> std::optional<std::string> {
    if (const char* value = std::getenv(name)) return std::string(value);
    return std::nullopt;
  };
  sources.readDescriptor = [](int fd) { return readFirstLine(fd, "PASSWD_FD " + std::to_string(fd)); };
  sources.readFile = [](const std::string& path) -> Result<std::string> {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return makeError(ErrorCode::Io, "PASSWD_FILE " + path, errno);
    auto line = readFirstLine(fd, "PASSWD_FILE " + path);
    ::close(fd);
    return line;
  };
  sources.ask = [](const std::string& prompt) { return readSecret(prompt); };
  return sources;
}

Result<Credentials> resolveCredentials(const ConnectionOptions& options, const PasswordSources& sources) {
  UserArgument given{options.credentials, options.passwordGiven};
  if (!options.authenticationFile.empty() && !options.userGiven) {
    auto fromFile = readAuthenticationFile(options.authenticationFile);
    if (!fromFile) return fromFile.error();
    wipeSecret(given.credentials.password);  // --password without -U: the assignment may free it
    given = *fromFile;
  }
  Credentials& credentials = given.credentials;
  if (credentials.domain.empty()) credentials.domain = options.workgroup;
  if (credentials.anonymous()) return credentials;

  if (options.noPassword) {
    credentials.password.clear();
    return credentials;
  }
  if (given.hasPassword) return credentials;
  auto fromEnvironment = passwordFromEnvironment(sources);
  if (!fromEnvironment) return fromEnvironment.error();
  if (*fromEnvironment) {
    credentials.password = **fromEnvironment;
    wipeSecret(**fromEnvironment);
    return credentials;
  }
  if (options.kerberos != ConnectionOptions::Kerberos::Off) return credentials;

  const std::string who = credentials.domain.empty() ? credentials.user : credentials.domain + "\\" + credentials.user;
  if (auto password = sources.ask("Password for " + who + ": ")) {
    credentials.password = *password;
    wipeSecret(*password);
  }
  return credentials;
}

}  // namespace vuv::cli
