// Saving the network tree to a tree file (format: treefile/tree_file_format.h).
//
// Thread safety: reads the tree through its own locked calls, so discovery may go on inserting
// meanwhile; the file then holds the nodes present when the walk passed them.
#pragma once

#include <string>

#include "base/result.h"
#include "tree/network_tree.h"

namespace vuv {

// The file's bytes for the tree below `root`. The same tree always gives the same bytes.
// Refuses (ErrorCode::InvalidArgument, the detail names the node's path) a tree that would
// not load back: a node text that is empty or holds LF, CR or NUL, a line longer than
// kTreeFileMaxLineBytes, more than kTreeFileMaxLines lines or kTreeFileMaxBytes in all.
// `root` must be a node of `tree`; see isNothingToSave() otherwise.
Result<std::string> formatTree(const NetworkTree& tree, NodeId root);

// Writes formatTree()'s bytes to `path`, replacing any file there atomically: on failure an
// existing file is left as it was. Errors: isNothingToSave() when `root` is kNoNode or no
// longer in the tree; formatTree()'s errors; ErrorCode::Io with errno when the file cannot be
// created or written.
Status saveTreeFile(const NetworkTree& tree, NodeId root, const std::string& path);

// True for the error saveTreeFile() returns when there is no tree to save (no discovery or
// load yet), which the window reports in words of its own.
bool isNothingToSave(const Error& error);

}  // namespace vuv
