#include "treefile/tree_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "base/utf8.h"
#include "treefile/tree_file_format.h"

namespace vuv {

namespace {

constexpr std::size_t kUnderRoot = SIZE_MAX;
constexpr std::size_t kNone = SIZE_MAX;
constexpr std::size_t kReadChunk = 64 * 1024;

struct ParsedNode {
  std::string text;
  NodeKind kind;
  std::size_t parent;  // index of an earlier node, or kUnderRoot
};

Error badFormat(std::string detail) { return makeError(ErrorCode::BadFormat, std::move(detail)); }

Error badLine(std::size_t lineNumber, const std::string& what) {
  return badFormat("line " + std::to_string(lineNumber) + ": " + what);
}

std::string shownCode(char c) {
  const auto b = static_cast<unsigned char>(c);
  if (b >= 0x20 && b < 0x7F) return std::string("'") + c + "'";
  static constexpr char kHex[] = "0123456789ABCDEF";
  return std::string("byte 0x") + kHex[b >> 4] + kHex[b & 0xF];
}

std::string tooLong() {
  return "longer than " + std::to_string(kTreeFileMaxLineBytes) + " bytes";
}

std::string megabytes(std::size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// The whole file checked and placed, before anything touches the tree.
Result<std::vector<ParsedNode>> parseLines(std::string_view bytes) {
  if (bytes.empty()) return badFormat("the file is empty");
  if (bytes.size() > kTreeFileMaxBytes) {
    return badFormat("the file is larger than " + megabytes(kTreeFileMaxBytes));
  }
  if (const auto nul = bytes.find('\0'); nul != std::string_view::npos) {
    const auto line =
        1 + static_cast<std::size_t>(std::count(bytes.begin(), bytes.begin() + nul, '\n'));
    return badFormat("not a network tree file: NUL byte on line " + std::to_string(line));
  }

  // A byte order mark from an editor. No saved file starts with it: lines start with a digit.
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (bytes.substr(0, kBom.size()) == kBom) bytes.remove_prefix(kBom.size());

  std::vector<ParsedNode> nodes;
  std::size_t domain = kNone;  // latest code-2 node
  std::size_t server = kNone;  // latest code-1 node since that domain
  std::size_t lineNumber = 0;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    ++lineNumber;
    const std::size_t end = std::min(bytes.find('\n', pos), bytes.size());
    std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;

    if (line.size() > kTreeFileMaxLineBytes) return badLine(lineNumber, tooLong());
    if (line.find('\r') != std::string_view::npos) {
      return badLine(lineNumber, "carriage return inside the line");
    }
    const char code = line.front();
    if (code != kTreeFileCodeTopLevel && code != kTreeFileCodeInner && code != kTreeFileCodeLeaf) {
      return badLine(lineNumber, "unknown line code " + shownCode(code));
    }
    if (line.size() == 1) return badLine(lineNumber, "no name after the line code");
    if (code == kTreeFileCodeInner && domain == kNone) {
      return badLine(lineNumber, "server line (code 1) before any domain line (code 2)");
    }
    std::string text = utf8OrLatin1ToUtf8(line.substr(1));
    // Latin-1 grows in conversion; the writer must be able to save what was loaded.
    if (1 + text.size() > kTreeFileMaxLineBytes) {
      return badLine(lineNumber, tooLong() + " as UTF-8");
    }
    if (nodes.size() == kTreeFileMaxLines) {
      return badFormat("more than " + std::to_string(kTreeFileMaxLines) + " lines");
    }

    const std::size_t index = nodes.size();
    if (code == kTreeFileCodeTopLevel) {
      nodes.push_back({std::move(text), NodeKind::Domain, kUnderRoot});
      domain = index;
      server = kNone;
    } else if (code == kTreeFileCodeInner) {
      nodes.push_back({std::move(text), NodeKind::Server, domain});
      server = index;
    } else if (server != kNone) {
      nodes.push_back({std::move(text), NodeKind::Share, server});
    } else if (domain != kNone) {
      nodes.push_back({std::move(text), NodeKind::Server, domain});
    } else {
      nodes.push_back({std::move(text), NodeKind::Domain, kUnderRoot});
    }
  }
  if (nodes.empty()) return badFormat("the file holds only blank lines");
  // The writer's line for a root without children.
  if (nodes.size() == 1 && domain == kNone && nodes.front().text == kRootText) nodes.clear();
  return nodes;
}

}  // namespace

Result<NodeId> parseTree(std::string_view bytes, NetworkTree& tree) {
  auto parsed = parseLines(bytes);
  if (!parsed) return parsed.error();
  std::vector<ParsedNode>& nodes = *parsed;

  tree.clear();
  const NodeId root =
      tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
  std::vector<NodeId> ids;
  ids.reserve(nodes.size());
  for (auto& node : nodes) {
    const NodeId parent = node.parent == kUnderRoot ? root : ids[node.parent];
    const NodeId id = tree.insert(parent, std::move(node.text), node.kind, InsertPosition::Last);
    // Only a clear from another thread makes a parent stale.
    if (id == kNoNode) {
      return makeError(ErrorCode::Busy, "the network tree was cleared while loading");
    }
    ids.push_back(id);
  }
  return root;
}

Result<NodeId> loadTreeFile(const std::string& path, NetworkTree& tree) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer. It changes nothing for regular files.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return makeError(ErrorCode::Io, "opening " + path, errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

  struct stat info {};
  if (::fstat(fd, &info) != 0) return makeError(ErrorCode::Io, "reading " + path, errno);
  if (S_ISDIR(info.st_mode)) return makeError(ErrorCode::Io, "opening " + path, EISDIR);
  if (!S_ISREG(info.st_mode)) return badFormat("not a network tree file: not a regular file");
  if (static_cast<std::uintmax_t>(info.st_size) > kTreeFileMaxBytes) {
    return badFormat("the file is larger than " + megabytes(kTreeFileMaxBytes));
  }

  // Read to the end rather than trust st_size: the file may change meanwhile, and some files
  // (/proc) report 0. One byte past the bound is enough to refuse.
  std::string bytes;
  std::size_t size = 0;
  while (size <= kTreeFileMaxBytes) {
    const std::size_t want = std::min(kReadChunk, kTreeFileMaxBytes + 1 - size);
    bytes.resize(size + want);
    const ssize_t n = ::read(fd, bytes.data() + size, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return makeError(ErrorCode::Io, "reading " + path, errno);
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  bytes.resize(size);
  return parseTree(bytes, tree);
}

}  // namespace vuv
