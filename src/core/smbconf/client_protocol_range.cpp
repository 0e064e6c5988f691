#include "smbconf/client_protocol_range.h"

#include <array>
#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <string_view>
#include <utility>

namespace vuv {

namespace {

// Samba's dialect names, oldest first; "SMB2" and "SMB3" stand for the newest of their family.
constexpr std::array<std::pair<std::string_view, int>, 13> kDialects{{
    {"CORE", 0}, {"COREPLUS", 1}, {"CORE+", 1}, {"LANMAN1", 2}, {"LANMAN2", 3}, {"NT1", 4},
    {"SMB2_02", 5}, {"SMB2_10", 6}, {"SMB2", 6}, {"SMB3_00", 7}, {"SMB3_02", 8},
    {"SMB3_11", 9}, {"SMB3", 9},
}};
constexpr int kNt1Rank = 4;

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::optional<int> dialectRank(std::string_view name) {
  const std::string key = upper(name);
  for (const auto& [dialect, rank] : kDialects) {
    if (dialect == key) return rank;
  }
  return std::nullopt;
}

// Samba compares parameter names ignoring case and white space.
std::string parameterKey(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (!std::isspace(static_cast<unsigned char>(c))) {
      key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return key;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// Logical lines: a backslash at the end of a line joins the next one.
std::vector<std::string> logicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\\') {
      current.append(line.substr(0, line.size() - 1));
    } else {
      current.append(line);
      lines.push_back(std::move(current));
      current.clear();
    }
    start = end + 1;
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

struct Reading {
  const ConfigReader& read;
  ProtocolSettings& settings;
  std::set<std::string> open;  // files being read: an include cycle ends here
  std::optional<std::string> restartWith;  // `config file = ...` seen
};

bool readFile(Reading& reading, const std::string& path, int depth);

void setDialect(std::string& slot, std::string_view value) {
  if (upper(value) == "DEFAULT") {
    slot.clear();
  } else if (dialectRank(value)) {
    slot = upper(value);
  }
  // Anything else Samba rejects and keeps the previous value.
}

void apply(Reading& reading, std::string_view name, std::string_view value, int depth) {
  const std::string key = parameterKey(name);
  if (key == "clientminprotocol") {
    setDialect(reading.settings.min, value);
  } else if (key == "clientmaxprotocol") {
    setDialect(reading.settings.max, value);
  } else if (key == "include") {
    if (value.find('%') != std::string_view::npos || depth >= kMaxIncludeDepth) return;
    readFile(reading, std::string(value), depth + 1);
  } else if (key == "configfile") {
    if (value.find('%') == std::string_view::npos) reading.restartWith = std::string(value);
  }
}

bool readFile(Reading& reading, const std::string& path, int depth) {
  if (reading.open.count(path) != 0) return true;
  const std::optional<std::string> text = reading.read(path);
  if (!text) return false;
  reading.open.insert(path);
  bool inGlobal = true;  // lines before any section header are global
  for (const std::string& raw : logicalLines(*text)) {
    const std::string_view line = trim(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string_view section = trim(line.substr(1, close == std::string_view::npos
                                                               ? std::string_view::npos
                                                               : close - 1));
      inGlobal = parameterKey(section) == "global";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inGlobal || equals == std::string_view::npos) continue;
    apply(reading, trim(line.substr(0, equals)), trim(line.substr(equals + 1)), depth);
    if (reading.restartWith) break;
  }
  reading.open.erase(path);
  return true;
}

}  // namespace

bool readProtocolSettings(const std::string& path, const ConfigReader& read,
                          ProtocolSettings& settings) {
  Reading reading{read, settings, {}, std::nullopt};
  std::set<std::string> restarted{path};
  if (!readFile(reading, path, 0)) return false;
  // `config file` replaces what was read so far; a file naming one already used ends it.
  while (reading.restartWith && restarted.insert(*reading.restartWith).second) {
    const std::string next = std::move(*reading.restartWith);
    reading.restartWith.reset();
    ProtocolSettings fresh;
    Reading again{read, fresh, {}, std::nullopt};
    if (!readFile(again, next, 0)) break;
    settings = fresh;
    reading.restartWith = std::move(again.restartWith);
  }
  return true;
}

std::vector<std::string> clientConfigFiles(const std::string& home,
                                           const std::string& systemConfig,
                                           const std::string& configFile,
                                           const ConfigReader& read) {
  std::vector<std::string> files;
  const std::string userConfig = home.empty() ? std::string() : home + "/.smb/smb.conf";
  if (!userConfig.empty() && read(userConfig)) {
    files.push_back(userConfig);
  } else {
    files.push_back(systemConfig);
    if (!home.empty()) files.push_back(home + "/.smb/smb.conf.append");
  }
  if (!configFile.empty()) files.push_back(configFile);
  return files;
}

ProtocolRange clientProtocolRange(const std::vector<std::string>& files,
                                  const ConfigReader& read) {
  ProtocolSettings settings;
  for (const std::string& file : files) readProtocolSettings(file, read, settings);
  return ProtocolRange{settings.min.empty() ? kDefaultClientMinProtocol : settings.min,
                       settings.max.empty() ? kDefaultClientMaxProtocol : settings.max};
}

bool allowsSmb1(const ProtocolRange& range) {
  const std::optional<int> min = dialectRank(range.min);
  const std::optional<int> max = dialectRank(range.max);
  return min && max && *min <= kNt1Rank && *max >= kNt1Rank;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vuv
