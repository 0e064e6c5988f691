// WS-Discovery messages (the 2005/04 version that computers announce themselves with) and the
// device metadata exchange: building Probe, Resolve and Get, reading ProbeMatches,
// ResolveMatches, Hello, Bye and the Get response, and reading a computer's name and workgroup
// or domain from its pub:Computer entry ("NAME/Workgroup:WG" or "NAME/Domain:DOM").
//
// Every message read here comes from the network: parsing goes through the strict XML reader
// and checks every value it hands out (lengths, characters), so a hostile or broken answer
// costs that answer only.
//
// Thread safety: pure functions; newMessageId() reads std::random_device, which is safe to call
// from several threads (each call makes its own device).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace vuv::wsd {

inline constexpr std::string_view kSoapNs = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::string_view kAddressingNs = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr std::string_view kDiscoveryNs = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
inline constexpr std::string_view kDeviceProfileNs = "http://schemas.xmlsoap.org/ws/2006/02/devprof";
inline constexpr std::string_view kMetadataExchangeNs = "http://schemas.xmlsoap.org/ws/2004/09/mex";
inline constexpr std::string_view kPubNs = "http://schemas.microsoft.com/windows/pub/2005/07";

inline constexpr std::uint16_t kPort = 3702;
inline constexpr std::string_view kMulticastV4 = "239.255.255.250";
inline constexpr std::string_view kMulticastV6 = "ff02::c";

// Bounds on what one message may hand out.
inline constexpr std::size_t kMaxEndpointBytes = 512;
inline constexpr std::size_t kMaxXAddrBytes = 1024;
inline constexpr std::size_t kMaxXAddrsPerEndpoint = 8;
inline constexpr std::size_t kMaxMatchesPerMessage = 64;
inline constexpr std::size_t kMaxNameBytes = 255;

// "urn:uuid:" and the 16 bytes as a version 4 (random) UUID.
std::string uuidUrn(const std::array<std::uint8_t, 16>& random);
// A fresh message id from std::random_device.
std::string newMessageId();

std::string probeMessage(std::string_view messageId);
// `endpoint` comes from the network; it is escaped here.
std::string resolveMessage(std::string_view messageId, std::string_view endpoint);
std::string getMessage(std::string_view messageId, std::string_view endpoint);

enum class MessageKind { Probe, Resolve, ProbeMatches, ResolveMatches, Hello, Bye, Other };

// One endpoint as a match, a Hello or a Bye describes it.
struct EndpointInfo {
  std::string endpoint;             // the wsa:Address of its endpoint reference
  bool typesGiven = false;          // a Types element was present
  bool computer = false;            // Types named pub:Computer
  std::vector<std::string> xaddrs;  // transport addresses, as given (checked for length only)
};

struct Message {
  MessageKind kind = MessageKind::Other;
  std::string messageId;
  std::string relatesTo;
  std::vector<EndpointInfo> endpoints;  // matches, or the one endpoint of a Hello or Bye
};

// A SOAP 1.2 envelope with a WS-Addressing header. Matches, Hello and Bye must carry the body
// their action names, with at least one usable endpoint. Other actions come back as
// MessageKind::Other (or Probe/Resolve) without endpoints.
Result<Message> parseMessage(std::string_view bytes);

struct Computer {
  std::string name;
  std::string group;  // empty when the entry names none
  bool isDomain = false;
};

// "NAME/Workgroup:WG", "NAME/Domain:DOM" or a bare "NAME"; the words are matched ignoring case.
// Names must be 1-255 bytes without control characters, '\' or '/'.
Result<Computer> parseComputer(std::string_view text);

struct Metadata {
  std::string relatesTo;
  Computer computer;
};

// The WS-Transfer GetResponse of a device: its pub:Computer entry. NotFound when the response
// is well-formed but names no computer (a printer, say).
Result<Metadata> parseMetadata(std::string_view bytes);

}  // namespace vuv::wsd
