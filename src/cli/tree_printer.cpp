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
    char buffer[16];
    if (c.value >= kInvalidByteBase) {
      // Not UTF-8: a terminal may read it as a control (0x9B is CSI in 8-bit mode), and a
      // cut-off sequence would swallow the next character.
      std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned>(c.value - kInvalidByteBase));
      out += buffer;
    } else if (c.value < 0x20 || (c.value >= 0x7F && c.value <= 0x9F)) {
      std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned>(c.value));
      out += buffer;
    } else if (isDirectionControl(c.value)) {
      // Direction overrides would show the rest of the line reordered: a name could pose as
      // another.
      std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c.value));
      out += buffer;
    } else {
      out.append(text, i, c.length);
    }
    i += c.length;
  }
  return out;
}

bool isDirectionControl(char32_t c) {
  return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F;
}

std::string formatTreeForPeople(const NetworkTree& tree) {
  std::string out;
  appendSubtree(tree, kNoNode, 0, out);
  return out;
}

}  // namespace vuv::cli
