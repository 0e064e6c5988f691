#include "wsd/wsd_messages.h"

#include <optional>
#include <random>

#include "base/casefold.h"
#include "wsd/xml_reader.h"

namespace vuv::wsd {

namespace {

constexpr std::string_view kDiscoveryTo = "urn:schemas-xmlsoap-org:ws:2005:04:discovery";
constexpr std::string_view kAnonymous = "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
constexpr std::string_view kActionBase = "http://schemas.xmlsoap.org/ws/2005/04/discovery/";
constexpr std::string_view kGetAction = "http://schemas.xmlsoap.org/ws/2004/09/transfer/Get";
constexpr std::string_view kGetResponseAction = "http://schemas.xmlsoap.org/ws/2004/09/transfer/GetResponse";

std::string envelope(std::string_view to, std::string_view action, std::string_view messageId,
                     std::string_view body) {
  std::string out;
  out += R"(<?xml version="1.0" encoding="utf-8"?>)";
  out += R"(<soap:Envelope xmlns:soap=")" + std::string(kSoapNs) + R"(" xmlns:wsa=")" +
         std::string(kAddressingNs) + R"(" xmlns:wsd=")" + std::string(kDiscoveryNs) + R"(" xmlns:wsdp=")" +
         std::string(kDeviceProfileNs) + R"(">)";
  out += "<soap:Header><wsa:To>" + xml::escape(to) + "</wsa:To><wsa:Action>" + std::string(action) +
         "</wsa:Action><wsa:MessageID>" + xml::escape(messageId) + "</wsa:MessageID>";
  out += "<wsa:ReplyTo><wsa:Address>" + std::string(kAnonymous) + "</wsa:Address></wsa:ReplyTo>";
  out += "</soap:Header><soap:Body>";
  out += body;
  out += "</soap:Body></soap:Envelope>";
  return out;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isSpace(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !isSpace(text[i])) ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

// One token without white space, of bounded length: what an endpoint address must be.
bool isToken(std::string_view text, std::size_t maxBytes) {
  if (text.empty() || text.size() > maxBytes) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x21) return false;
  }
  return true;
}

bool isUsableName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  if (name.front() == ' ' || name.back() == ' ') return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '\\' || c == '/') return false;
  }
  return true;
}

Error bad(const std::string& why) { return makeError(ErrorCode::Protocol, "WS-Discovery: " + why); }

MessageKind kindOfAction(std::string_view action) {
  if (!action.starts_with(kActionBase)) return MessageKind::Other;
  const std::string_view what = action.substr(kActionBase.size());
  if (what == "Probe") return MessageKind::Probe;
  if (what == "Resolve") return MessageKind::Resolve;
  if (what == "ProbeMatches") return MessageKind::ProbeMatches;
  if (what == "ResolveMatches") return MessageKind::ResolveMatches;
  if (what == "Hello") return MessageKind::Hello;
  if (what == "Bye") return MessageKind::Bye;
  return MessageKind::Other;
}

struct Envelope {
  xml::Document doc;
  const xml::Element* header = nullptr;
  const xml::Element* body = nullptr;
  std::string action;
  std::string messageId;
  std::string relatesTo;
};

std::string headerText(const xml::Document& doc, const xml::Element& header, std::string_view local) {
  const xml::Element* e = doc.child(header, kAddressingNs, local);
  return e == nullptr ? std::string() : std::string(xml::trim(e->text));
}

Result<Envelope> readEnvelope(std::string_view bytes) {
  auto doc = xml::parse(bytes);
  if (!doc) return bad(doc.error().detail);
  Envelope env;
  env.doc = std::move(*doc);
  const xml::Element& root = env.doc.root();
  if (root.name != xml::Name{std::string(kSoapNs), "Envelope"}) return bad("not a SOAP 1.2 envelope");
  env.header = env.doc.child(root, kSoapNs, "Header");
  env.body = env.doc.child(root, kSoapNs, "Body");
  if (env.header == nullptr || env.body == nullptr) return bad("envelope without header or body");
  env.action = headerText(env.doc, *env.header, "Action");
  env.messageId = headerText(env.doc, *env.header, "MessageID");
  env.relatesTo = headerText(env.doc, *env.header, "RelatesTo");
  if (env.action.empty()) return bad("no action");
  return env;
}

// The endpoint reference, Types and XAddrs inside a ProbeMatch, ResolveMatch, Hello or Bye.
// nullopt when the endpoint address is missing or unusable.
std::optional<EndpointInfo> readEndpoint(const xml::Document& doc, const xml::Element& parent) {
  const xml::Element* reference = doc.child(parent, kAddressingNs, "EndpointReference");
  const xml::Element* address = reference ? doc.child(*reference, kAddressingNs, "Address") : nullptr;
  if (address == nullptr) return std::nullopt;
  EndpointInfo info;
  info.endpoint = std::string(xml::trim(address->text));
  if (!isToken(info.endpoint, kMaxEndpointBytes)) return std::nullopt;

  if (const xml::Element* types = doc.child(parent, kDiscoveryNs, "Types")) {
    info.typesGiven = true;
    for (std::string_view word : words(types->text)) {
      auto name = doc.resolve(*types, word);
      if (name && name->ns == kPubNs && name->local == "Computer") info.computer = true;
    }
  }
  if (const xml::Element* xaddrs = doc.child(parent, kDiscoveryNs, "XAddrs")) {
    for (std::string_view word : words(xaddrs->text)) {
      if (info.xaddrs.size() == kMaxXAddrsPerEndpoint) break;
      if (word.size() <= kMaxXAddrBytes) info.xaddrs.emplace_back(word);
    }
  }
  return info;
}

}  // namespace

std::string uuidUrn(const std::array<std::uint8_t, 16>& random) {
  std::array<std::uint8_t, 16> b = random;
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "urn:uuid:";
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[b[i] >> 4];
    out += kHex[b[i] & 0x0F];
  }
  return out;
}

std::string newMessageId() {
  std::random_device device;
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const std::uint32_t r = device();
    for (std::size_t j = 0; j < 4; ++j) bytes[i + j] = static_cast<std::uint8_t>(r >> (8 * j));
  }
  return uuidUrn(bytes);
}

std::string probeMessage(std::string_view messageId) {
  return envelope(kDiscoveryTo, std::string(kActionBase) + "Probe", messageId,
                  "<wsd:Probe><wsd:Types>wsdp:Device</wsd:Types></wsd:Probe>");
}

std::string resolveMessage(std::string_view messageId, std::string_view endpoint) {
  return envelope(kDiscoveryTo, std::string(kActionBase) + "Resolve", messageId,
                  "<wsd:Resolve><wsa:EndpointReference><wsa:Address>" + xml::escape(endpoint) +
                      "</wsa:Address></wsa:EndpointReference></wsd:Resolve>");
}

std::string getMessage(std::string_view messageId, std::string_view endpoint) {
  return envelope(endpoint, kGetAction, messageId, "");
}

Result<Message> parseMessage(std::string_view bytes) {
  auto env = readEnvelope(bytes);
  if (!env) return env.error();
  Message message;
  message.kind = kindOfAction(env->action);
  message.messageId = env->messageId;
  message.relatesTo = env->relatesTo;
  const xml::Document& doc = env->doc;

  std::vector<const xml::Element*> holders;
  switch (message.kind) {
    case MessageKind::ProbeMatches:
    case MessageKind::ResolveMatches: {
      const bool probe = message.kind == MessageKind::ProbeMatches;
      const xml::Element* list = doc.child(*env->body, kDiscoveryNs, probe ? "ProbeMatches" : "ResolveMatches");
      if (list == nullptr) return bad("the body does not match the action " + env->action);
      holders = doc.children(*list, kDiscoveryNs, probe ? "ProbeMatch" : "ResolveMatch");
      break;
    }
    case MessageKind::Hello:
    case MessageKind::Bye: {
      const xml::Element* one = doc.child(*env->body, kDiscoveryNs, message.kind == MessageKind::Hello ? "Hello" : "Bye");
      if (one == nullptr) return bad("the body does not match the action " + env->action);
      holders.push_back(one);
      break;
    }
    default:
      return message;
  }
  for (const xml::Element* holder : holders) {
    if (message.endpoints.size() == kMaxMatchesPerMessage) break;
    if (auto info = readEndpoint(doc, *holder)) message.endpoints.push_back(std::move(*info));
  }
  if (message.endpoints.empty()) return bad("no usable endpoint in " + env->action);
  return message;
}

Result<Computer> parseComputer(std::string_view text) {
  text = xml::trim(text);
  Computer computer;
  const std::size_t slash = text.find('/');
  computer.name = std::string(text.substr(0, slash));
  if (!isUsableName(computer.name)) return bad("unusable computer name in '" + std::string(text.substr(0, 300)) + "'");
  if (slash == std::string_view::npos) return computer;

  const std::string_view rest = text.substr(slash + 1);
  const std::size_t colon = rest.find(':');
  const std::string kind = foldCaseUtf8(rest.substr(0, colon));
  if (colon == std::string_view::npos || (kind != "workgroup" && kind != "domain")) {
    return bad("expected Workgroup: or Domain: after the computer name");
  }
  computer.isDomain = kind == "domain";
  computer.group = std::string(rest.substr(colon + 1));
  if (!computer.group.empty() && !isUsableName(computer.group)) return bad("unusable workgroup or domain name");
  return computer;
}

Result<Metadata> parseMetadata(std::string_view bytes) {
  auto env = readEnvelope(bytes);
  if (!env) return env.error();
  if (env->action != kGetResponseAction) return bad("not a GetResponse but " + env->action.substr(0, 200));
  const xml::Element* computer = env->doc.descendant(*env->body, kPubNs, "Computer");
  if (computer == nullptr) return makeError(ErrorCode::NotFound, "WS-Discovery: the metadata names no computer");
  auto parsed = parseComputer(computer->text);
  if (!parsed) return parsed.error();
  return Metadata{env->relatesTo, std::move(*parsed)};
}

}  // namespace vuv::wsd
