// How names go into the trigram index and how a wildcard pattern narrows the search there.
// The index holds each name folded by our case folding, with every byte that is not UTF-8
// written as U+FFFD, so SQLite's trigram tokenizer sees the characters our matcher sees. A
// name the pattern matches contains every literal run of the pattern (its characters between
// wildcards), so it holds every trigram of those runs: the query may find more names than
// match, never fewer. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vuv::index {

// The text the name index holds for `name`.
std::string indexedName(std::string_view name);

// An FTS5 query (trigrams joined by AND) that every name matching `pattern` satisfies, or
// empty when the pattern has no run of three literal characters: then only a scan answers.
std::string trigramQuery(std::string_view pattern);

}  // namespace vuv::index
