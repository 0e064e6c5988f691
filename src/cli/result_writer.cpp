#include "cli/result_writer.h"

#include <cstdio>
#include <ctime>

#include "base/casefold.h"
#include "base/utf8.h"
#include "cli/tree_printer.h"
#include "results/result_icon.h"
#include "results/size_text.h"

namespace vuv::cli {

namespace {

const char* iconName(ResultIcon icon) {
  switch (icon) {
    case ResultIcon::Media: return "Media";
    case ResultIcon::Archive: return "Archive";
    case ResultIcon::Text: return "Text";
    case ResultIcon::Program: return "Program";
    case ResultIcon::Other: return "Other";
    case ResultIcon::Folder: return "Folder";
    case ResultIcon::WebPage: return "WebPage";
    case ResultIcon::Picture: return "Picture";
  }
  return "Other";
}

std::string csvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace

std::string jsonString(std::string_view text) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out = "\"";
  for (std::size_t pos = 0; pos < text.size();) {
    const Utf8Char decoded = decodeUtf8(text, pos);
    pos += decoded.length;
    char32_t c = decoded.value;
    if (c >= kInvalidByteBase) c = kReplacement;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        // Valid JSON either way; escaped, a reader that prints a name cannot drive the terminal.
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || isDirectionControl(c)) {
          char buffer[12];
          std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
          out += buffer;
        } else {
          appendUtf8(out, c);
        }
    }
  }
  return out + '"';
}

// Seconds since the Unix epoch as UTC in ISO 8601, e.g. 2026-12-07T12:00:00Z.
static std::string isoTime(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (::gmtime_r(&time, &parts) == nullptr) return {};
  char buffer[32];
  return std::string(buffer, std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts));
}

std::string resultHeader(SearchFormat format) {
  return format == SearchFormat::Csv ? "path,folder,size,size_text,icon\n" : "";
}

std::string formatResultRow(const ResultRow& row, SearchFormat format, std::optional<std::int64_t> seen,
                            bool terminal) {
  const std::string size = sizeText(row);
  switch (format) {
    case SearchFormat::Text:
      return escapeForTerminal(row.path) + '\t' + size + '\n';
    case SearchFormat::Csv:
      return csvField(terminal ? escapeForTerminal(row.path) : row.path) + ',' + (row.isFolder ? "1" : "0") + ',' +
             std::to_string(row.size) + ',' + csvField(size) + ',' + iconName(rowIcon(row)) + '\n';
    case SearchFormat::Json:
      return "{\"path\":" + jsonString(row.path) + ",\"folder\":" + (row.isFolder ? "true" : "false") +
             ",\"size\":" + std::to_string(row.size) + ",\"size_text\":" + jsonString(size) +
             ",\"icon\":\"" + iconName(rowIcon(row)) + "\"" + (seen ? ",\"seen\":\"" + isoTime(*seen) + "\"" : "") +
             "}\n";
  }
  return {};
}

std::string formatFailure(const ListingFailure& failure, SearchFormat format) {
  if (format != SearchFormat::Json) return {};
  return "{\"failed\":" + jsonString(failure.path) + ",\"reason\":" + jsonString(reason(failure.error)) + "}\n";
}

}  // namespace vuv::cli
