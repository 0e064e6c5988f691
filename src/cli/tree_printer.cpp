#include "cli/tree_printer.h"

#include <cstdio>

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
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // C1 controls arrive in UTF-8 as 0xC2 0x80..0x9F.
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c < 0x20 || c == 0x7F || c1) {
      const unsigned value = c1 ? static_cast<unsigned char>(text[++i]) : c;
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", value);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string formatTreeForPeople(const NetworkTree& tree) {
  std::string out;
  appendSubtree(tree, kNoNode, 0, out);
  return out;
}

}  // namespace vuv::cli
