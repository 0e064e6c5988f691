// The network tree file (extension "brk"): the tree below the root as text, one line per node.
//
//   <code><text>\n
//
// `code` is one decimal digit, `text` the node's text (UTF-8), then one LF. No header, version,
// count or trailer; no CR, separator, quoting or escaping. Lines follow the tree depth-first in
// display order, starting at the root's children; the root has no line of its own.
//
//   2  a node with children whose parent is the root (a domain with servers)
//   1  a node with children further down (a server with shares)
//   0  a node without children (a share, a server without shares, a domain without servers)
//
// A root without children is saved as the single line "0MS Windows Network".
//
// Node kinds are not recorded: a 0 line after a share line may be another share of that server
// or a childless server of the same domain.
//
// The bounds below hold for both sides: the writer refuses a tree whose file the reader would
// refuse, so every saved file loads.
#pragma once

#include <cstddef>

namespace vuv {

inline constexpr char kTreeFileCodeTopLevel = '2';  // has children, parent is the root
inline constexpr char kTreeFileCodeInner = '1';     // has children, parent is not the root
inline constexpr char kTreeFileCodeLeaf = '0';      // no children

// Code and text of one line, without its line end. Far above any SMB name.
inline constexpr std::size_t kTreeFileMaxLineBytes = 4096;
// A whole file. Far above any real network; keeps a wrong file from eating memory.
inline constexpr std::size_t kTreeFileMaxBytes = std::size_t{64} << 20;
// Node lines in a file; bounds the tree a load builds (roughly 100 bytes per node).
inline constexpr std::size_t kTreeFileMaxLines = 2'000'000;

}  // namespace vuv
