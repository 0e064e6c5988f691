// Loading a tree file (format: treefile/tree_file_format.h) back into the network tree, without
// network access.
//
// A load replaces the whole tree: clear, then a NodeKind::Root node "MS Windows Network" at the
// top level and one node per line in file order, each inserted last so siblings keep the saved
// order. The file is checked completely before the tree is touched: a refused file leaves the
// current tree as it was.
//
// Where each line goes (the writer's inverse):
//   2  a Domain under the root; it becomes the current domain and closes the current server.
//   1  a Server under the latest code-2 domain; refused before any code-2 line.
//   0  a child of the deepest open container: a Share of the latest code-1 server; a Server
//      (without shares) of the latest code-2 domain when no code-1 line came since; a Domain
//      (without servers) under the root before any code-2 line.
// The format cannot tell a childless server from another share: "2ALPHA 1S1 0C$ 0Public 0S2
// 0ZETA" loads S2 and ZETA as shares of S1. Saving the loaded tree gives the same lines again.
//
// A file whose only line is "0MS Windows Network" gives a root without children.
//
// Lenient on what editors do: empty lines are skipped, one CR before the LF is dropped (a file
// edited on Windows), the last line needs no LF and a UTF-8 byte order mark at the start is
// skipped. Text that is not valid UTF-8 comes from older files whose 8-bit names are Latin-1,
// and is converted line by line; a Latin-1 line that happens to be valid UTF-8 is taken as such.
//
// Refused with ErrorCode::BadFormat and a detail such as "line 7: unknown line code 'x'": an
// empty file or one of blank lines only; a NUL byte anywhere (not a text file); a first
// character other than 0, 1 or 2; a line with no text after its code; a code-1 line before any
// code-2 line; a CR inside a line; a line over kTreeFileMaxLineBytes (after conversion to
// UTF-8); a file of more than kTreeFileMaxLines node lines or kTreeFileMaxBytes bytes. Line
// numbers count every line, blank ones included, from 1, as an editor shows them.
//
// Thread safety: the tree's own calls are atomic, but a load while other threads insert into
// the same tree mixes their nodes in; callers stop discovery first.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "tree/network_tree.h"

namespace vuv {

// Replaces the tree with the one `bytes` describes. Returns the new root.
Result<NodeId> parseTree(std::string_view bytes, NetworkTree& tree);

// parseTree() on the file at `path`. Errors besides parseTree()'s: ErrorCode::Io with errno when
// the file cannot be opened or read (the detail names the path); BadFormat for something other
// than a regular file. Never blocks on a FIFO.
Result<NodeId> loadTreeFile(const std::string& path, NetworkTree& tree);

}  // namespace vuv
