// Recorded WS-Discovery traffic (tests/unit/data/wsd, from wsdd on the test network) and
// helpers to vary it.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace vuv::testing {

// The endpoint of M1's wsdd in the recordings, and the ids our recorder used.
inline constexpr const char* kM1Endpoint = "urn:uuid:47954a0b-b3a7-31d8-8776-fe33e4988d58";
inline constexpr const char* kRecordedProbeId = "urn:uuid:00000000-0000-4000-8000-000000000001";
inline constexpr const char* kRecordedResolveId = "urn:uuid:00000000-0000-4000-8000-000000000102";
inline constexpr const char* kRecordedGetId = "urn:uuid:00000000-0000-4000-8000-000000000202";

inline std::string wsdData(const std::string& name) {
  std::ifstream in(std::string(VUV_WSD_TEST_DATA) + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// `text` with every `from` replaced by `to`.
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace vuv::testing
