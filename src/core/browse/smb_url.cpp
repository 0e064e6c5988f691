#include "browse/smb_url.h"

namespace vuv {

namespace {

constexpr std::string_view kUncPrefix = "\\\\";
constexpr char kUncSeparator = '\\';
constexpr char kHexDigits[] = "0123456789ABCDEF";

// RFC 3986 unreserved characters pass; every other byte (UTF-8 included) becomes %XX.
bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_' || c == '~';
}

void appendEncoded(std::string& out, std::string_view component) {
  for (unsigned char c : component) {
    if (isUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0x0F];
    }
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string smbUrlForName(std::string_view name) {
  std::string url(kSmbUrlScheme);
  appendEncoded(url, name);
  return url;
}

Result<std::string> smbUrlForServer(std::string_view server, HostAddressBook* book,
                                    std::stop_token stop) {
  if (book == nullptr) return smbUrlForName(server);
  Result<std::string> host = book->hostFor(server, stop);
  if (!host) return host.error();
  return smbUrlForName(*host);
}

Result<std::string> smbUrlFromUnc(std::string_view unc, HostAddressBook* book,
                                  std::stop_token stop) {
  Result<std::string> url = smbUrlFromUnc(unc);
  if (!url || book == nullptr) return url;
  Result<std::string> host = book->hostFor(smbUrlComponent(*url, 0), stop);
  if (!host) return host.error();
  return smbUrlWithHost(*url, *host);
}

std::string smbUrlWithHost(std::string_view url, std::string_view host) {
  const std::size_t end = url.find('/', kSmbUrlScheme.size());
  return smbUrlForName(host) + std::string(end == std::string_view::npos ? std::string_view() : url.substr(end));
}

Result<std::string> smbUrlFromUnc(std::string_view unc) {
  auto invalid = [&](const char* why) {
    return makeError(ErrorCode::InvalidArgument, std::string(why) + ": " + std::string(unc));
  };
  if (!unc.starts_with(kUncPrefix)) return invalid("not a UNC path");
  std::string_view rest = unc.substr(kUncPrefix.size());
  if (rest.ends_with(kUncSeparator)) rest.remove_suffix(1);

  std::string url(kSmbUrlScheme);
  bool first = true;
  while (true) {
    const std::size_t end = rest.find(kUncSeparator);
    const std::string_view component = rest.substr(0, end);
    if (component.empty()) return invalid(first ? "no server name" : "empty path component");
    if (component == "." || component == "..") return invalid("relative path component");
    if (!first) url += '/';
    appendEncoded(url, component);
    first = false;
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return url;
}

std::string smbUrlComponent(std::string_view url, std::size_t index) {
  if (url.starts_with(kSmbUrlScheme)) url.remove_prefix(kSmbUrlScheme.size());
  for (; index > 0; --index) {
    const std::size_t slash = url.find('/');
    if (slash == std::string_view::npos) return {};
    url.remove_prefix(slash + 1);
  }
  url = url.substr(0, url.find('/'));
  std::string decoded;
  for (std::size_t i = 0; i < url.size(); ++i) {
    const int high = i + 2 < url.size() ? hexValue(url[i + 1]) : -1;
    const int low = i + 2 < url.size() ? hexValue(url[i + 2]) : -1;
    if (url[i] == '%' && high >= 0 && low >= 0) {
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += url[i];  // a stray '%' stays as it is
    }
  }
  return decoded;
}

}  // namespace vuv
