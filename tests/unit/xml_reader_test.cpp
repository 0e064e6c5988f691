#include "wsd/xml_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace vuv::xml {
namespace {

std::string nested(std::size_t depth) {
  std::string out;
  for (std::size_t i = 0; i < depth; ++i) out += "<a>";
  for (std::size_t i = 0; i < depth; ++i) out += "</a>";
  return out;
}

TEST(XmlReader, ResolvesNamespacesByScope) {
  auto doc = parse(R"(<?xml version="1.0" encoding="utf-8"?>
<s:Envelope xmlns:s="urn:soap" xmlns="urn:default" s:flag="1" plain="2">
  <Header><s:Action>act</s:Action></Header>
  <Body xmlns="urn:inner" xmlns:s="urn:other"><s:Item>x</s:Item><Bare xmlns=""/></Body>
</s:Envelope>)");
  ASSERT_TRUE(doc.ok()) << doc.error().detail;
  const Element& root = doc->root();
  EXPECT_EQ(root.name, (Name{"urn:soap", "Envelope"}));
  ASSERT_EQ(root.attributes.size(), 2u);  // the declarations are not attributes
  EXPECT_EQ(root.attributes[0].name, (Name{"urn:soap", "flag"}));
  EXPECT_EQ(root.attributes[1].name, (Name{"", "plain"}));  // no default namespace for attributes
  EXPECT_EQ(*Document::attribute(root, "plain"), "2");
  EXPECT_EQ(Document::attribute(root, "flag"), nullptr);

  const Element* header = doc->child(root, "urn:default", "Header");
  ASSERT_NE(header, nullptr);
  ASSERT_NE(doc->child(*header, "urn:soap", "Action"), nullptr);
  const Element* body = doc->child(root, "urn:inner", "Body");
  ASSERT_NE(body, nullptr);
  // The inner redeclaration of s: wins inside Body only.
  EXPECT_NE(doc->child(*body, "urn:other", "Item"), nullptr);
  EXPECT_EQ(doc->child(*body, "urn:soap", "Item"), nullptr);
  EXPECT_NE(doc->child(*body, "", "Bare"), nullptr);
  EXPECT_EQ(doc->descendant(root, "urn:other", "Item")->text, "x");
  EXPECT_EQ(doc->descendant(*header, "urn:other", "Item"), nullptr);  // not below Header
}

TEST(XmlReader, QNamesInTextResolveWhereTheyStand) {
  auto doc = parse(R"(<r xmlns:p="urn:one"><t xmlns:q="urn:two">p:A q:B</t><u>q:B</u></r>)");
  ASSERT_TRUE(doc.ok()) << doc.error().detail;
  const Element& t = *doc->child(doc->root(), "", "t");
  const Element& u = *doc->child(doc->root(), "", "u");
  EXPECT_EQ(doc->resolve(t, "p:A"), (Name{"urn:one", "A"}));
  EXPECT_EQ(doc->resolve(t, "q:B"), (Name{"urn:two", "B"}));
  EXPECT_EQ(doc->resolve(u, "q:B"), std::nullopt);  // q is not in scope there
  EXPECT_EQ(doc->resolve(t, "Plain"), (Name{"", "Plain"}));
  EXPECT_EQ(doc->resolve(t, "p:"), std::nullopt);
  EXPECT_EQ(doc->resolve(t, "a:b:c"), std::nullopt);
}

TEST(XmlReader, TextReferencesCdataCommentsAndLineEnds) {
  auto doc = parse("<a>1 &lt; 2 &amp;&amp; &quot;&apos;&gt; &#65;&#x42;&#xE4; <![CDATA[<raw> &amp;]]><!-- c -->z\r\ny\rx</a>");
  ASSERT_TRUE(doc.ok()) << doc.error().detail;
  EXPECT_EQ(doc->root().text, "1 < 2 && \"'> AB\xC3\xA4 <raw> &amp;z\ny\nx");
  auto attribute = parse("<a v=\"x&#10;y\tz&lt;\"/>");
  ASSERT_TRUE(attribute.ok());
  EXPECT_EQ(attribute->root().attributes[0].value, "x\ny z<");  // literal tab normalised, reference kept
}

TEST(XmlReader, AcceptsAndRefusesTable) {
  struct Case {
    const char* what;
    std::string input;
    bool accepted;
  };
  const std::string billionLaughs =
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
      "\"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">]><lolz>&lol2;</lolz>";
  const Case cases[] = {
      {"empty element", "<a/>", true}, {"byte order mark", "\xEF\xBB\xBF<a/>", true},
      {"comment and space after the root", "<a/> <!-- x -->\n", true}, {"empty input", "", false},
      {"only a declaration", "<?xml version=\"1.0\"?>", false}, {"document type", "<!DOCTYPE a><a/>", false},
      {"billion laughs", billionLaughs, false},
      {"external entity", "<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>", false},
      {"declaration inside content", "<a><!ENTITY x \"y\"></a>", false}, {"undefined entity", "<a>&x;</a>", false},
      {"entity name cut short", "<a>&amp</a>", false},
      {"reference to NUL", "<a>&#0;</a>", false}, {"reference to tab", "<a>&#x9;</a>", true},
      {"reference to a surrogate", "<a>&#xD800;</a>", false}, {"reference above Unicode", "<a>&#x110000;</a>", false},
      {"reference with too many digits", "<a>&#x0000000041;</a>", false},
      {"NUL byte in text", std::string("<a>x\0y</a>", 10), false}, {"control character in text", "<a>\x01</a>", false},
      {"Latin-1 byte", "<a>\xE4</a>", false}, {"UTF-8 letter", "<a>\xC3\xA4</a>", true},
      {"overlong UTF-8", "<a>\xC0\xAF</a>", false}, {"UTF-8 cut short at the end", "<a/>\xC3", false},
      {"other encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>", false},
      {"XML 1.1", "<?xml version=\"1.1\"?><a/>", false},
      {"declaration not at the start", " <?xml version=\"1.0\"?><a/>", false},
      {"processing instruction", "<?php echo 1; ?><a/>", false},
      {"instruction inside", "<a><?x y?></a>", false}, {"unclosed", "<a><b></b>", false},
      {"crossed end tags", "<a><b></a></b>", false}, {"two roots", "<a/><b/>", false},
      {"text after the root", "<a/>x", false},
      {"undeclared prefix", "<p:a/>", false},
      {"undeclared attribute prefix", "<a p:x=\"1\"/>", false},
      {"prefix bound to nothing", "<p:a xmlns:p=\"\"/>", false}, {"declaring xmlns", "<a xmlns:xmlns=\"u\"/>", false},
      {"xml prefix used undeclared", "<a xml:lang=\"de\"/>", true},
      {"xml prefix to another namespace", "<a xmlns:xml=\"u\"/>", false},
      {"attribute twice", "<a x=\"1\" x=\"2\"/>", false},
      {"same expanded attribute twice", "<a xmlns:p=\"u\" xmlns:q=\"u\" p:x=\"1\" q:x=\"2\"/>", false},
      {"prefixed and plain attribute", "<a xmlns:p=\"u\" p:x=\"1\" x=\"2\"/>", true},
      {"unquoted value", "<a x=1/>", false}, {"'<' in a value", "<a x=\"<\"/>", false},
      {"attributes without space", "<a x=\"1\"y=\"2\"/>", false},
      {"two colons in a name", "<a:b:c xmlns:a=\"u\"/>", false}, {"'--' in a comment", "<a><!-- a -- b --></a>", false},
      {"']]>' in text", "<a>]]></a>", false}, {"unterminated CDATA", "<a><![CDATA[x</a>", false},
      {"truncated in a tag", "<a><b x=\"1\"", false},
  };
  for (const Case& c : cases) {
    auto doc = parse(c.input);
    EXPECT_EQ(doc.ok(), c.accepted) << c.what << (doc.ok() ? "" : ": " + doc.error().detail);
    if (!doc.ok()) {
      EXPECT_EQ(doc.error().code, ErrorCode::BadFormat) << c.what;
    }
  }
}

// Each limit: a document exactly at it loads, one step beyond it is refused.
TEST(XmlReader, LimitsHoldExactly) {
  const Limits limits;
  const auto repeat = [](std::size_t count, const std::string& open, const std::string& close, auto&& part) {
    std::string out = open;
    for (std::size_t i = 0; i < count; ++i) out += part(i);
    return out + close;
  };
  const auto n = [](std::size_t i) { return std::to_string(i); };
  const std::pair<std::function<std::string(std::size_t)>, std::size_t> limited[] = {
      {nested, limits.maxDepth},
      {[&](std::size_t c) { return repeat(c - 1, "<r>", "</r>", [](std::size_t) { return "<e/>"; }); },
       limits.maxElements},  // plus the root
      {[&](std::size_t c) { return repeat(c, "<a", "/>", [&](std::size_t i) { return " a" + n(i) + "=\"\""; }); },
       limits.maxAttributes},
      {[&](std::size_t c) { return repeat(c, "<r>", "</r>", [&](std::size_t i) { return "<e xmlns:p=\"u" + n(i) + "\"/>"; }); },
       limits.maxBindings},
      {[](std::size_t c) { return "<" + std::string(c, 'n') + "/>"; }, limits.maxNameBytes},
      {[](std::size_t c) { return "<a xmlns=\"" + std::string(c, 'u') + "\"/>"; }, limits.maxNameBytes},
      {[](std::size_t c) { return "<a>" + std::string(c - 7, 'x') + "</a>"; }, limits.maxBytes},
  };
  for (const auto& [make, limit] : limited) {
    EXPECT_TRUE(parse(make(limit), limits).ok()) << limit;
    const auto beyond = parse(make(limit + 1), limits);
    EXPECT_TRUE(!beyond.ok() && beyond.error().code == ErrorCode::BadFormat) << limit;
  }
}

// Guards against recursion in the reader: nesting far beyond the limit must fail, not overflow.
TEST(XmlReader, HugeNestingFailsCleanly) {
  auto doc = parse(nested(20000));
  ASSERT_FALSE(doc.ok());
  EXPECT_NE(doc.error().detail.find("deeper"), std::string::npos) << doc.error().detail;
}

TEST(XmlReader, EscapeRoundTrips) {
  const std::string nasty = "a<b>&\"'</wsa:Address><x/>";
  auto doc = parse("<a v=\"" + escape(nasty) + "\">" + escape(nasty) + "</a>");
  ASSERT_TRUE(doc.ok()) << doc.error().detail;
  EXPECT_EQ(doc->root().text, nasty);
  EXPECT_EQ(doc->root().attributes[0].value, nasty);
  EXPECT_EQ(trim(" \t\r\nx y\n"), "x y");
}

}  // namespace
}  // namespace vuv::xml
