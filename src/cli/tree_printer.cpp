#include "cli/tree_printer.h"

#include <cstdio>

#include "base/utf8.h"

namespace vuv::cli {

namespace {

void appendSubtree(const NetworkTree& tree, NodeId parent, std::size_t depth, std::string& out) {
  for (NodeId node : tree.children(parent)) {
    out.append(depth * 2, ' ');
    out += escapeForTerminal(tree.text(node));
    out += '\n';
    appendSubtree(tree, node, depth + 1, out);
  }
}

}  // namespace

std::string escapeForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = decodeUtf8(text, i);
    // C0, DEL and C1 controls; undecodable bytes pass through as they are.
    if (c.value < 0x20 || (c.value >= 0x7F && c.value <= 0x9F)) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned>(c.value));
      out += buffer;
    } else {
      out.append(text, i, c.length);
    }
    i += c.length;
  }
  return out;
}

std::string formatTreeForPeople(const NetworkTree& tree) {
  std::string out;
  appendSubtree(tree, kNoNode, 0, out);
  return out;
}

}  // namespace vuv::cli
