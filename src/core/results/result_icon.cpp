#include "results/result_icon.h"

#include <cstddef>

namespace vuv {

namespace {

struct ExtensionIcon {
  std::string_view extension;  // lower case
  ResultIcon icon;
};

constexpr ExtensionIcon kExtensions[] = {
    {"avi", ResultIcon::Media},     {"mpg", ResultIcon::Media},     {"mp3", ResultIcon::Media},
    {"mpeg", ResultIcon::Media},    {"divx", ResultIcon::Media},    {"wmv", ResultIcon::Media},
    {"wma", ResultIcon::Media},     {"wav", ResultIcon::Media},     {"snd", ResultIcon::Media},
    {"rar", ResultIcon::Archive},   {"zip", ResultIcon::Archive},   {"tar", ResultIcon::Archive},
    {"tz", ResultIcon::Archive},    {"pax", ResultIcon::Archive},
    {"txt", ResultIcon::Text},      {"doc", ResultIcon::Text},      {"cpp", ResultIcon::Text},
    {"c", ResultIcon::Text},        {"h", ResultIcon::Text},        {"hpp", ResultIcon::Text},
    {"rtf", ResultIcon::Text},      {"java", ResultIcon::Text},
    {"exe", ResultIcon::Program},   {"com", ResultIcon::Program},   {"bat", ResultIcon::Program},
    {"sh", ResultIcon::Program},
    {"html", ResultIcon::WebPage},  {"htm", ResultIcon::WebPage},   {"shtml", ResultIcon::WebPage},
    {"phtml", ResultIcon::WebPage},
    {"bmp", ResultIcon::Picture},   {"jpg", ResultIcon::Picture},   {"gif", ResultIcon::Picture},
    {"tiff", ResultIcon::Picture},  {"ico", ResultIcon::Picture},   {"jpeg", ResultIcon::Picture},
    {"png", ResultIcon::Picture},   {"tga", ResultIcon::Picture},
};

constexpr std::size_t kLongestExtension = 5;

}  // namespace

ResultIcon iconForPath(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return ResultIcon::Other;
  const std::string_view extension = path.substr(dot + 1);
  if (extension.size() > kLongestExtension) return ResultIcon::Other;

  char lowered[kLongestExtension];
  for (std::size_t i = 0; i < extension.size(); ++i) {
    const char c = extension[i];
    lowered[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
  }
  const std::string_view key(lowered, extension.size());
  for (const ExtensionIcon& entry : kExtensions) {
    if (entry.extension == key) return entry.icon;
  }
  return ResultIcon::Other;
}

ResultIcon rowIcon(const ResultRow& row) {
  return row.isFolder ? ResultIcon::Folder : iconForPath(row.path);
}

}  // namespace vuv
