// A small, strict XML reader for messages from the network (WS-Discovery datagrams, metadata
// answers). It reads UTF-8 documents into a tree of elements with their namespaces resolved.
//
// Everything a peer sends is untrusted, so the reader refuses rather than guesses: no document
// type declarations at all (hence no entity definitions, no external anything), no processing
// instructions but the XML declaration, only the five predefined entities and numeric character
// references, well-formed UTF-8 only, no characters XML forbids (NUL among them), undeclared
// prefixes are errors, and the input size, nesting depth, element count, attributes per element
// and namespace declarations (their number and length) are bounded. The reader is iterative:
// depth costs no stack.
//
// Thread safety: parseXml is a pure function; a document is an immutable value.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace vuv::xml {

struct Limits {
  std::size_t maxBytes = 256 * 1024;
  std::size_t maxDepth = 32;
  std::size_t maxElements = 2048;
  std::size_t maxAttributes = 32;       // per element, namespace declarations included
  std::size_t maxBindings = 64;         // namespace declarations in the whole document
  std::size_t maxNameBytes = 256;       // also bounds namespace URIs
};

struct Name {
  std::string ns;  // namespace URI; empty for no namespace
  std::string local;
  bool operator==(const Name&) const = default;
};

struct Attribute {
  Name name;
  std::string value;
};

inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);

struct Element {
  Name name;
  std::vector<Attribute> attributes;
  std::string text;  // the character data directly inside, concatenated
  std::vector<std::size_t> children;
  std::size_t parent = kNone;
  std::size_t scope = kNone;  // innermost namespace binding in effect (Document::resolve)
};

class Document {
 public:
  const Element& root() const { return elements_.front(); }
  const Element& at(std::size_t index) const { return elements_[index]; }
  std::size_t size() const { return elements_.size(); }

  // The first child of `parent` named {ns}local, or nullptr.
  const Element* child(const Element& parent, std::string_view ns, std::string_view local) const;
  std::vector<const Element*> children(const Element& parent, std::string_view ns,
                                       std::string_view local) const;
  // The first element named {ns}local below `parent`, in document order, or nullptr.
  const Element* descendant(const Element& parent, std::string_view ns, std::string_view local) const;

  // Value of the unqualified attribute `local`, or nullptr.
  static const std::string* attribute(const Element& element, std::string_view local);

  // A QName found in text content ("pub:Computer") resolved in the scope of `element`; nullopt
  // when its prefix is not declared there or it is not a QName.
  std::optional<Name> resolve(const Element& element, std::string_view qname) const;

 private:
  friend class Parser;
  struct Binding {
    std::string prefix;  // empty: the default namespace
    std::string uri;     // empty: undeclares the default namespace
    std::size_t previous = kNone;
  };
  std::optional<std::string> lookup(std::size_t scope, std::string_view prefix) const;

  std::vector<Element> elements_;
  std::vector<Binding> bindings_;
};

// BadFormat, with the reason and the byte offset in the detail, for anything not accepted.
Result<Document> parse(std::string_view bytes, const Limits& limits = {});

// The text with leading and trailing XML white space (space, tab, CR, LF) removed.
std::string_view trim(std::string_view text);

// `text` with &, <, >, " and ' replaced by their predefined entities.
std::string escape(std::string_view text);

}  // namespace vuv::xml
