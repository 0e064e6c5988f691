// Prints the network tree for people: one node per line, two blanks of indent per level.
// Control characters in names from the network are escaped so they cannot drive the terminal.
#pragma once

#include <string>

#include "tree/network_tree.h"

namespace vuv::cli {

std::string formatTreeForPeople(const NetworkTree& tree);

// Replaces control characters (C0, DEL, C1) and bytes that are not UTF-8 with \xNN, and
// direction overrides with \uNNNN; backslashes stay as they are because network paths are
// full of them.
std::string escapeForTerminal(std::string_view text);

// The direction marks and overrides (embeddings, isolates) that reorder the rest of a line.
bool isDirectionControl(char32_t c);

}  // namespace vuv::cli
