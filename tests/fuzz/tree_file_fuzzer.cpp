// Feeds arbitrary bytes to the tree file reader. Besides crashes and sanitizer reports, it
// stops on a broken promise of the format:
//  - a refused file leaves the tree as it was;
//  - whatever loads can be saved, and saving, loading and saving again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/error.h"
#include "treefile/tree_file_reader.h"
#include "treefile/tree_file_writer.h"

namespace {

[[noreturn]] void broken(const char* promise, const std::string& detail = {}) {
  std::fprintf(stderr, "tree file fuzzer: %s %s\n", promise, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vuv;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  NetworkTree tree;
  const NodeId sentinel = tree.insertTopLevel("SENTINEL", NodeKind::Root, InsertPosition::Last);
  tree.insert(sentinel, "KEEP", NodeKind::Domain, InsertPosition::Last);

  const auto root = parseTree(bytes, tree);
  if (!root) {
    if (root.error().code != ErrorCode::BadFormat || root.error().detail.empty()) {
      broken("refusal without a format error:", describe(root.error()));
    }
    if (!tree.contains(sentinel) || tree.children(kNoNode).size() != 1 ||
        tree.children(sentinel).size() != 1) {
      broken("a refused file changed the tree");
    }
    return 0;
  }
  if (tree.contains(sentinel) || tree.root() != *root) broken("the load did not replace the tree");

  const auto saved = formatTree(tree, *root);
  if (!saved) broken("a loaded tree cannot be saved:", describe(saved.error()));
  NetworkTree again;
  const auto reloaded = parseTree(*saved, again);
  if (!reloaded) broken("a saved file does not load:", describe(reloaded.error()));
  const auto resaved = formatTree(again, *reloaded);
  if (!resaved || *resaved != *saved) broken("save, load, save changed the file");
  return 0;
}
