#include "treefile/tree_file_writer.h"

#include <string_view>
#include <utility>
#include <vector>

#include "treefile/atomic_file.h"
#include "treefile/tree_file_format.h"

namespace vuv {

namespace {

constexpr std::string_view kNothingToSave = "no network tree to save";

// The node's path for a message, with the characters that make it unwritable made visible.
std::string printablePath(const NetworkTree& tree, NodeId node) {
  std::string shown;
  for (const char c : tree.nodePath(node)) {
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\0') {
      shown += "\\0";
    } else {
      shown.push_back(c);
    }
  }
  return shown;
}

Error unwritable(const NetworkTree& tree, NodeId node, std::string_view why) {
  return makeError(ErrorCode::InvalidArgument,
                   "cannot save node \"" + printablePath(tree, node) + "\": " + std::string(why));
}

Result<Ok> appendLine(std::string& out, std::size_t& lines, const NetworkTree& tree, NodeId node,
                      char code) {
  const std::string text = tree.text(node);
  if (text.empty()) return unwritable(tree, node, "its name is empty");
  if (text.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos) {
    return unwritable(tree, node, "its name holds a line break or NUL");
  }
  if (1 + text.size() > kTreeFileMaxLineBytes) {
    return unwritable(tree, node, "its name is too long");
  }
  if (++lines > kTreeFileMaxLines || out.size() + text.size() + 2 > kTreeFileMaxBytes) {
    return makeError(ErrorCode::InvalidArgument, "the network tree is too large to save");
  }
  out.push_back(code);
  out += text;
  out.push_back('\n');
  return success();
}

}  // namespace

Result<std::string> formatTree(const NetworkTree& tree, NodeId root) {
  if (root == kNoNode || !tree.contains(root)) {
    return makeError(ErrorCode::InvalidArgument, std::string(kNothingToSave));
  }
  std::string out;
  std::size_t lines = 0;
  if (!tree.hasChildren(root)) {
    if (auto written = appendLine(out, lines, tree, root, kTreeFileCodeLeaf); !written) {
      return written.error();
    }
    return out;
  }

  // Depth-first with an explicit stack: a tree built by hand may be deeper than any network.
  struct Level {
    std::vector<NodeId> children;
    std::size_t next = 0;
  };
  std::vector<Level> stack;
  stack.push_back(Level{tree.children(root)});
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.children.size()) {
      stack.pop_back();
      continue;
    }
    const NodeId child = level.children[level.next++];
    const bool topLevel = stack.size() == 1;
    // One snapshot of the children decides both the line code and what follows, so a node
    // that gains children meanwhile is still written consistently.
    std::vector<NodeId> grandchildren = tree.children(child);
    const char code = grandchildren.empty() ? kTreeFileCodeLeaf
                      : topLevel            ? kTreeFileCodeTopLevel
                                            : kTreeFileCodeInner;
    if (auto written = appendLine(out, lines, tree, child, code); !written) return written.error();
    if (!grandchildren.empty()) stack.push_back(Level{std::move(grandchildren)});
  }
  return out;
}

Status saveTreeFile(const NetworkTree& tree, NodeId root, const std::string& path) {
  auto bytes = formatTree(tree, root);
  if (!bytes) return bytes.error();
  return replaceFileContents(path, *bytes);
}

bool isNothingToSave(const Error& error) {
  return error.code == ErrorCode::InvalidArgument && error.detail == kNothingToSave;
}

}  // namespace vuv
