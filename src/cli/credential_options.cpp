#include "cli/credential_options.h"

#include <cerrno>
#include <fstream>
#include <sstream>

namespace vuv::cli {

namespace {

constexpr std::size_t kMaxAuthenticationFileBytes = 64 * 1024;

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

UserArgument parseUserArgument(std::string_view text) {
  UserArgument result;
  if (const auto percent = text.find('%'); percent != std::string_view::npos) {
    result.credentials.password = std::string(text.substr(percent + 1));
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

Result<Credentials> parseAuthenticationText(std::string_view text) {
  Credentials credentials;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto end = text.find('\n');
    const std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      return makeError(ErrorCode::BadFormat, "line " + std::to_string(lineNumber) + ": expected key = value");
    }
    const std::string_view key = trim(line.substr(0, equals));
    const std::string value(trim(line.substr(equals + 1)));
    if (key == "username") {
      // "username = DOMAIN\user" is common too.
      const UserArgument user = parseUserArgument(value);
      credentials.user = user.credentials.user;
      if (!user.credentials.domain.empty()) credentials.domain = user.credentials.domain;
    } else if (key == "password") {
      credentials.password = value;
    } else if (key == "domain") {
      credentials.domain = value;
    }
  }
  return credentials;
}

Result<Credentials> readAuthenticationFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return makeError(ErrorCode::Io, path, errno);
  std::string text(kMaxAuthenticationFileBytes + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (text.size() > kMaxAuthenticationFileBytes) {
    return makeError(ErrorCode::BadFormat, path + ": too large for an authentication file");
  }
  auto parsed = parseAuthenticationText(text);
  if (!parsed) return makeError(parsed.error().code, path + ": " + parsed.error().detail);
  return parsed;
}

}  // namespace vuv::cli
