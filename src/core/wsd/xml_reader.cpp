#include "wsd/xml_reader.h"

#include "base/casefold.h"
#include "base/utf8.h"

namespace vuv::xml {

namespace {

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kMaxReferenceDigits = 8;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// ASCII as XML defines it; every byte of a non-ASCII character is accepted (the input is
// already known to be well-formed UTF-8 of allowed characters).
bool isNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// The Char production of XML 1.0.
bool isXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

std::string_view prefixOf(std::string_view qname) {
  const std::size_t colon = qname.find(':');
  return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
}
std::string_view localOf(std::string_view qname) {
  const std::size_t colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}
// At most one colon, neither first nor last (namespace well-formedness).
bool isQName(std::string_view name) {
  const std::size_t colon = name.find(':');
  if (colon == std::string_view::npos) return !name.empty();
  return colon != 0 && colon + 1 < name.size() && name.find(':', colon + 1) == std::string_view::npos;
}

std::string hexCode(char32_t c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (int shift = 20; shift >= 0; shift -= 4) {
    if (!out.empty() || (c >> shift) != 0 || shift < 16) out += kDigits[(c >> shift) & 0xF];
  }
  return "U+" + out;
}

}  // namespace

class Parser {
 public:
  Parser(std::string_view input, const Limits& limits) : in_(input), limits_(limits) {}

  Result<Document> run() {
    if (in_.size() > limits_.maxBytes) {
      return makeError(ErrorCode::BadFormat, "XML: document larger than " + std::to_string(limits_.maxBytes) + " bytes");
    }
    if (Status ok = checkCharacters(); !ok) return ok.error();
    if (in_.starts_with(kByteOrderMark)) pos_ = kByteOrderMark.size();
    if (startsWith("<?xml") && pos_ + 5 < in_.size() && (isSpace(in_[pos_ + 5]) || in_[pos_ + 5] == '?')) {
      if (Status ok = declaration(); !ok) return ok.error();
    }
    if (Status ok = misc(/*beforeRoot=*/true); !ok) return ok.error();
    if (Status ok = startTag(); !ok) return ok.error();
    while (!open_.empty()) {
      if (Status ok = content(); !ok) return ok.error();
    }
    if (Status ok = misc(/*beforeRoot=*/false); !ok) return ok.error();
    return std::move(doc_);
  }

 private:
  Error fail(const std::string& why) const {
    return makeError(ErrorCode::BadFormat, "XML: " + why + " at byte " + std::to_string(pos_));
  }
  bool atEnd() const { return pos_ >= in_.size(); }
  bool startsWith(std::string_view s) const { return in_.substr(pos_).starts_with(s); }
  bool skipSpace() {
    const std::size_t start = pos_;
    while (!atEnd() && isSpace(in_[pos_])) ++pos_;
    return pos_ != start;
  }

  // The whole input once: well-formed UTF-8 and characters XML allows, so that nothing later
  // needs to decode.
  Status checkCharacters() {
    for (std::size_t i = 0; i < in_.size();) {
      const Utf8Char c = decodeUtf8(in_, i);
      if (c.value >= kInvalidByteBase) {
        pos_ = i;
        return fail("not UTF-8");
      }
      if (!isXmlChar(c.value)) {
        pos_ = i;
        return fail("character " + hexCode(c.value) + " is not allowed");
      }
      i += c.length;
    }
    return success();
  }

  Status name(std::string& out) {
    const std::size_t start = pos_;
    if (atEnd() || !isNameStart(static_cast<unsigned char>(in_[pos_]))) return fail("name expected");
    while (!atEnd() && isNameChar(static_cast<unsigned char>(in_[pos_]))) {
      if (pos_ - start >= limits_.maxNameBytes) return fail("name too long");
      ++pos_;
    }
    out.assign(in_.substr(start, pos_ - start));
    return success();
  }

  Status expect(char c) {
    if (atEnd() || in_[pos_] != c) return fail(std::string("'") + c + "' expected");
    ++pos_;
    return success();
  }

  // At '&': one of the five predefined entities or a character reference.
  Status reference(std::string& out) {
    ++pos_;
    // Look no further than the longest reference: "#x" and the digits.
    const std::size_t window = in_.substr(pos_, kMaxReferenceDigits + 3).find(';');
    if (window == std::string_view::npos) return fail("unterminated reference");
    const std::size_t semicolon = pos_ + window;
    const std::string_view ref = in_.substr(pos_, semicolon - pos_);
    static constexpr std::pair<std::string_view, char> kPredefined[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, replacement] : kPredefined) {
      if (ref == entity) {
        out += replacement;
        pos_ = semicolon + 1;
        return success();
      }
    }
    if (!ref.starts_with('#')) return fail("entity '" + std::string(ref) + "' refused: only the predefined ones");
    const bool hex = ref.size() > 1 && ref[1] == 'x';
    const std::string_view digits = ref.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > kMaxReferenceDigits) return fail("bad character reference");
    char32_t value = 0;
    for (char d : digits) {
      int v = -1;
      if (d >= '0' && d <= '9') v = d - '0';
      else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
      else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
      if (v < 0) return fail("bad character reference");
      value = value * (hex ? 16 : 10) + static_cast<char32_t>(v);
    }
    if (!isXmlChar(value)) return fail("character reference to a character XML does not allow");
    appendUtf8(out, value);
    pos_ = semicolon + 1;
    return success();
  }

  Status quoted(std::string& out) {
    if (atEnd() || (in_[pos_] != '"' && in_[pos_] != '\'')) return fail("quoted value expected");
    const char quote = in_[pos_++];
    while (true) {
      if (atEnd()) return fail("unterminated value");
      const char c = in_[pos_];
      if (c == quote) break;
      if (c == '<') return fail("'<' in a value");
      if (c == '&') {
        if (Status ok = reference(out); !ok) return ok;
        continue;
      }
      // Attribute value normalisation: white space characters become spaces.
      out += isSpace(c) ? ' ' : c;
      ++pos_;
    }
    ++pos_;
    return success();
  }

  // <?xml version="1.0" encoding="UTF-8" standalone="yes"?>: only UTF-8 is accepted.
  Status declaration() {
    pos_ += 5;
    bool sawVersion = false;
    while (true) {
      const bool spaced = skipSpace();
      if (startsWith("?>")) {
        pos_ += 2;
        break;
      }
      if (!spaced) return fail("malformed XML declaration");
      std::string key;
      std::string value;
      if (Status ok = name(key); !ok) return ok;
      skipSpace();
      if (Status ok = expect('='); !ok) return ok;
      skipSpace();
      if (Status ok = quoted(value); !ok) return ok;
      if (key == "version") {
        if (value != "1.0") return fail("XML version " + value + " not supported");
        sawVersion = true;
      } else if (key == "encoding") {
        if (foldCaseUtf8(value) != "utf-8" && foldCaseUtf8(value) != "utf8") {
          return fail("encoding " + value + " not supported, only UTF-8");
        }
      } else if (key != "standalone") {
        return fail("unknown item in the XML declaration");
      }
    }
    if (!sawVersion) return fail("XML declaration without a version");
    return success();
  }

  Status comment() {
    const std::size_t end = in_.find("--", pos_ + 4);
    if (end == std::string_view::npos) return fail("unterminated comment");
    if (end + 2 >= in_.size() || in_[end + 2] != '>') {
      pos_ = end;
      return fail("'--' inside a comment");
    }
    pos_ = end + 3;
    return success();
  }

  // White space and comments before or after the root element.
  Status misc(bool beforeRoot) {
    while (true) {
      skipSpace();
      if (atEnd()) return beforeRoot ? fail("no root element") : success();
      if (startsWith("<!--")) {
        if (Status ok = comment(); !ok) return ok;
      } else if (startsWith("<!")) {
        return fail("document type declarations are refused");
      } else if (startsWith("<?")) {
        return fail("processing instructions are refused");
      } else if (beforeRoot && startsWith("<")) {
        return success();
      } else {
        return fail(beforeRoot ? "text before the root element" : "content after the root element");
      }
    }
  }

  Status content() {
    if (atEnd()) return fail("unexpected end: element <" + openNames_.back() + "> not closed");
    if (in_[pos_] != '<') return text();
    if (startsWith("</")) return endTag();
    if (startsWith("<!--")) return comment();
    if (startsWith("<![CDATA[")) return cdata();
    if (startsWith("<!")) return fail("declarations inside the document are refused");
    if (startsWith("<?")) return fail("processing instructions are refused");
    return startTag();
  }

  // Line ends become LF, as XML requires of every reader.
  void appendText(std::string& out, std::string_view raw) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\r') {
        out += '\n';
        if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      } else {
        out += raw[i];
      }
    }
  }

  Status text() {
    std::string& out = doc_.elements_[open_.back()].text;
    while (!atEnd() && in_[pos_] != '<') {
      if (in_[pos_] == '&') {
        if (Status ok = reference(out); !ok) return ok;
        continue;
      }
      std::size_t end = pos_;
      while (end < in_.size() && in_[end] != '<' && in_[end] != '&') ++end;
      const std::string_view run = in_.substr(pos_, end - pos_);
      if (const std::size_t bad = run.find("]]>"); bad != std::string_view::npos) {
        pos_ += bad;
        return fail("']]>' in text");
      }
      appendText(out, run);
      pos_ = end;
    }
    return success();
  }

  Status cdata() {
    pos_ += 9;
    const std::size_t end = in_.find("]]>", pos_);
    if (end == std::string_view::npos) return fail("unterminated CDATA section");
    appendText(doc_.elements_[open_.back()].text, in_.substr(pos_, end - pos_));
    pos_ = end + 3;
    return success();
  }

  Status endTag() {
    pos_ += 2;
    std::string qname;
    if (Status ok = name(qname); !ok) return ok;
    if (qname != openNames_.back()) return fail("</" + qname + "> closes <" + openNames_.back() + ">");
    skipSpace();
    if (Status ok = expect('>'); !ok) return ok;
    open_.pop_back();
    openNames_.pop_back();
    return success();
  }

  std::size_t currentScope() const { return open_.empty() ? kNone : doc_.elements_[open_.back()].scope; }

  Status bind(std::string prefix, std::string uri, std::size_t& scope) {
    if (doc_.bindings_.size() >= limits_.maxBindings) return fail("too many namespace declarations");
    if (prefix == "xmlns") return fail("the prefix xmlns cannot be declared");
    if (prefix == "xml" ? uri != kXmlNamespace : uri == kXmlNamespace) return fail("misuse of the xml namespace");
    if (uri == kXmlnsNamespace) return fail("the xmlns namespace cannot be bound");
    if (!prefix.empty() && uri.empty()) return fail("prefix " + prefix + " bound to no namespace");
    // Every name in its scope carries a copy of the URI: a long one would multiply the input.
    if (uri.size() > limits_.maxNameBytes) return fail("namespace name too long");
    doc_.bindings_.push_back(Document::Binding{std::move(prefix), std::move(uri), scope});
    scope = doc_.bindings_.size() - 1;
    return success();
  }

  Status startTag() {
    if (open_.size() >= limits_.maxDepth) return fail("nested deeper than " + std::to_string(limits_.maxDepth));
    if (doc_.elements_.size() >= limits_.maxElements) return fail("more than " + std::to_string(limits_.maxElements) + " elements");
    if (Status ok = expect('<'); !ok) return ok;
    std::string qname;
    if (Status ok = name(qname); !ok) return ok;
    if (!isQName(qname)) return fail("bad element name " + qname);

    std::vector<std::pair<std::string, std::string>> raw;
    bool empty = false;
    while (true) {
      const bool spaced = skipSpace();
      if (startsWith("/>")) {
        pos_ += 2;
        empty = true;
        break;
      }
      if (startsWith(">")) {
        ++pos_;
        break;
      }
      if (!spaced) return fail("white space expected between attributes");
      if (raw.size() >= limits_.maxAttributes) return fail("too many attributes");
      std::string key;
      std::string value;
      if (Status ok = name(key); !ok) return ok;
      if (!isQName(key)) return fail("bad attribute name " + key);
      skipSpace();
      if (Status ok = expect('='); !ok) return ok;
      skipSpace();
      if (Status ok = quoted(value); !ok) return ok;
      for (const auto& seen : raw) {
        if (seen.first == key) return fail("attribute " + key + " given twice");
      }
      raw.emplace_back(std::move(key), std::move(value));
    }

    Element element;
    std::size_t scope = currentScope();
    for (auto& [key, value] : raw) {
      if (key == "xmlns") {
        if (value == kXmlNamespace || value == kXmlnsNamespace) return fail("reserved namespace as default");
        if (Status ok = bind({}, value, scope); !ok) return ok;
      } else if (prefixOf(key) == "xmlns") {
        if (Status ok = bind(std::string(localOf(key)), value, scope); !ok) return ok;
      }
    }
    element.scope = scope;
    auto ns = doc_.lookup(scope, prefixOf(qname));
    if (!ns) return fail("undeclared prefix in " + qname);
    element.name = Name{std::move(*ns), std::string(localOf(qname))};
    for (auto& [key, value] : raw) {
      if (key == "xmlns" || prefixOf(key) == "xmlns") continue;
      Name attributeName{{}, std::string(localOf(key))};
      if (!prefixOf(key).empty()) {
        auto attributeNs = doc_.lookup(scope, prefixOf(key));
        if (!attributeNs) return fail("undeclared prefix in " + key);
        attributeName.ns = std::move(*attributeNs);
      }
      for (const Attribute& seen : element.attributes) {
        if (seen.name == attributeName) return fail("attribute " + key + " given twice");
      }
      element.attributes.push_back(Attribute{std::move(attributeName), std::move(value)});
    }

    const std::size_t index = doc_.elements_.size();
    if (!open_.empty()) {
      element.parent = open_.back();
      doc_.elements_[open_.back()].children.push_back(index);
    }
    doc_.elements_.push_back(std::move(element));
    if (!empty) {
      open_.push_back(index);
      openNames_.push_back(std::move(qname));
    }
    return success();
  }

  std::string_view in_;
  Limits limits_;
  std::size_t pos_ = 0;
  Document doc_;
  std::vector<std::size_t> open_;
  std::vector<std::string> openNames_;
};

std::optional<std::string> Document::lookup(std::size_t scope, std::string_view prefix) const {
  if (prefix == "xml") return std::string(kXmlNamespace);
  for (std::size_t at = scope; at != kNone; at = bindings_[at].previous) {
    if (bindings_[at].prefix == prefix) return bindings_[at].uri;
  }
  if (prefix.empty()) return std::string();
  return std::nullopt;
}

const Element* Document::child(const Element& parent, std::string_view ns, std::string_view local) const {
  for (std::size_t index : parent.children) {
    const Element& e = elements_[index];
    if (e.name.local == local && e.name.ns == ns) return &e;
  }
  return nullptr;
}

std::vector<const Element*> Document::children(const Element& parent, std::string_view ns,
                                               std::string_view local) const {
  std::vector<const Element*> found;
  for (std::size_t index : parent.children) {
    const Element& e = elements_[index];
    if (e.name.local == local && e.name.ns == ns) found.push_back(&e);
  }
  return found;
}

const Element* Document::descendant(const Element& parent, std::string_view ns, std::string_view local) const {
  // Elements are stored in document order, so a subtree is the run of elements after its top
  // whose ancestors include the top.
  const std::size_t top = static_cast<std::size_t>(&parent - elements_.data());
  for (std::size_t i = top + 1; i < elements_.size(); ++i) {
    std::size_t up = elements_[i].parent;
    while (up != kNone && up != top) up = elements_[up].parent;
    if (up != top) break;
    const Element& e = elements_[i];
    if (e.name.local == local && e.name.ns == ns) return &e;
  }
  return nullptr;
}

const std::string* Document::attribute(const Element& element, std::string_view local) {
  for (const Attribute& a : element.attributes) {
    if (a.name.ns.empty() && a.name.local == local) return &a.value;
  }
  return nullptr;
}

std::optional<Name> Document::resolve(const Element& element, std::string_view qname) const {
  if (!isQName(qname)) return std::nullopt;
  auto ns = lookup(element.scope, prefixOf(qname));
  if (!ns) return std::nullopt;
  return Name{std::move(*ns), std::string(localOf(qname))};
}

Result<Document> parse(std::string_view bytes, const Limits& limits) { return Parser(bytes, limits).run(); }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace vuv::xml
