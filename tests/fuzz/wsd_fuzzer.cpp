// Feeds arbitrary bytes to everything that reads WS-Discovery traffic: the XML reader, the
// message and metadata parsers, the HTTP response reader, the URL and computer-name checks, and
// a discovery round taking the bytes as a datagram. Besides crashes and sanitizer reports it
// stops on a broken promise:
//  - an accepted document is a consistent tree of well-formed UTF-8;
//  - whatever a parser hands out is within its stated bounds;
//  - a hostile endpoint cannot change the messages we build from it;
//  - the round's requests go only to literal, usable addresses.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/utf8.h"
#include "wsd/discovery_round.h"
#include "wsd/http_exchange.h"
#include "wsd/wsd_messages.h"
#include "wsd/xml_reader.h"

namespace {

using namespace vuv;

// The recorded probe's id in the seeds: replaced by the round's own, so that seeded answers
// are taken as answers.
constexpr std::string_view kSeedProbeId = "urn:uuid:00000000-0000-4000-8000-000000000001";

[[noreturn]] void broken(const char* promise, const std::string& detail = {}) {
  std::fprintf(stderr, "wsd fuzzer: %s %s\n", promise, detail.c_str());
  std::abort();
}

void checkDocument(const xml::Document& doc) {
  for (std::size_t i = 0; i < doc.size(); ++i) {
    const xml::Element& e = doc.at(i);
    if (!isValidUtf8(e.text) || !isValidUtf8(e.name.local) || !isValidUtf8(e.name.ns)) broken("invalid UTF-8 handed out");
    if (i == 0 ? e.parent != xml::kNone : e.parent >= i) broken("parent not before its child");
    for (std::size_t child : e.children) {
      if (child <= i || child >= doc.size() || doc.at(child).parent != i) broken("inconsistent children");
    }
  }
}

void checkMessage(const wsd::Message& m) {
  const bool carries = m.kind == wsd::MessageKind::ProbeMatches || m.kind == wsd::MessageKind::ResolveMatches ||
                       m.kind == wsd::MessageKind::Hello || m.kind == wsd::MessageKind::Bye;
  if (carries == m.endpoints.empty()) broken("endpoints do not match the kind");
  if (m.endpoints.size() > wsd::kMaxMatchesPerMessage) broken("too many endpoints");
  for (const wsd::EndpointInfo& e : m.endpoints) {
    if (e.endpoint.empty() || e.endpoint.size() > wsd::kMaxEndpointBytes) broken("endpoint out of bounds");
    if (e.xaddrs.size() > wsd::kMaxXAddrsPerEndpoint) broken("too many addresses");
    if (e.computer && !e.typesGiven) broken("a computer without Types");
    // Whatever the endpoint, a Resolve for it reads back as one Resolve for the same endpoint.
    const std::string resolve = wsd::resolveMessage("urn:uuid:fuzz", e.endpoint);
    auto back = wsd::parseMessage(resolve);
    if (!back || back->kind != wsd::MessageKind::Resolve || back->messageId != "urn:uuid:fuzz") {
      broken("an endpoint changed our Resolve:", e.endpoint);
    }
    auto doc = xml::parse(resolve);
    const xml::Element* body = doc ? doc->child(doc->root(), wsd::kSoapNs, "Body") : nullptr;
    const xml::Element* address = body ? doc->descendant(*body, wsd::kAddressingNs, "Address") : nullptr;
    if (address == nullptr || address->text != e.endpoint) broken("the Resolve names another endpoint:", e.endpoint);
  }
}

void checkComputer(const wsd::Computer& c) {
  if (c.name.empty() || c.name.size() > wsd::kMaxNameBytes) broken("computer name out of bounds");
  for (char ch : c.name + c.group) {
    if (ch == '\\' || ch == '/' || static_cast<unsigned char>(ch) < 0x20) broken("unusable character in a name");
  }
}

void runRound(std::string_view bytes) {
  using namespace std::chrono_literals;
  wsd::RoundOptions options;
  options.seed = 1;
  const wsd::Clock::time_point t0{};
  wsd::DiscoveryRound round(options, t0);
  round.takeMulticasts(t0);
  std::string datagram(bytes);
  for (std::size_t at = datagram.find(kSeedProbeId); at != std::string::npos;
       at = datagram.find(kSeedProbeId, at + round.probeId().size())) {
    datagram.replace(at, kSeedProbeId.size(), round.probeId());
  }
  round.onDatagram(datagram, "10.0.0.7", t0 + 1ms);
  round.takeMulticasts(t0 + 1ms);
  for (const wsd::FetchRequest& f : round.takeFetches(t0 + 1ms)) {
    if (!f.url.ipv6) {
      auto address = wsd::parseIpv4(f.url.host);
      if (!address || !wsd::isUsableDeviceAddress(*address)) broken("a request to an unusable address:", f.url.host);
    }
    if (f.request.find("\r\n\r\n") == std::string::npos) broken("a request without its header end");
    round.onFetched(f.id, Result<std::string>(datagram), t0 + 2ms);
  }
  for (const wsd::FoundHost& h : round.hosts()) {
    if (!h.name.empty()) checkComputer(wsd::Computer{h.name, h.group, h.isDomain});
  }
  if (!round.finished(t0 + 10s)) broken("the round does not end at its hard limit");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  if (auto doc = xml::parse(bytes)) checkDocument(*doc);
  else if (doc.error().code != ErrorCode::BadFormat) broken("refusal without a format error");

  if (auto message = wsd::parseMessage(bytes)) checkMessage(*message);
  if (auto metadata = wsd::parseMetadata(bytes)) checkComputer(metadata->computer);
  if (auto computer = wsd::parseComputer(bytes)) checkComputer(*computer);

  if (auto url = wsd::parseHttpUrl(bytes)) {
    if (!url->ipv6 && !wsd::parseIpv4(url->host)) broken("a URL host that is no address:", url->host);
    if (url->path.empty() || url->path.front() != '/') broken("a path without its slash");
  }

  constexpr std::size_t kMaxBody = 4096;
  for (bool closed : {false, true}) {
    auto body = wsd::httpResponseBody(bytes, closed, kMaxBody);
    if (body && body->has_value() && (*body)->size() > kMaxBody) broken("a body above its limit");
    if (body && !body->has_value() && closed) broken("more wanted after the close");
  }

  runRound(bytes);
  return 0;
}
