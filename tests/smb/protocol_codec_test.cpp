// The worker protocol's encoder and decoder: every message survives a round trip through the
// frame decoder, and malformed input of any kind gives an error value, never a crash or a
// huge allocation.
#include <gtest/gtest.h>

#include <random>

#include "protocol/frame.h"
#include "protocol/message_codec.h"
#include "protocol/wire.h"

namespace vuv::protocol {
namespace {

std::vector<Message> sampleMessages() {
  return {
      Hello{kProtocolVersion, 5000, Credentials{"DOM", "user", "pa:ss\0word"}},
      Hello{kProtocolVersion, 0, Credentials{}},
      Request{7, Operation::ListDirectory, "smb://S1/Public/%C3%9Cbersicht"},
      Request{8, Operation::ReadFile, ""},
      EntriesBatch{9, {Entry{EntryKind::Folder, "Ärger", 0, 1709294400, 42},
                       Entry{EntryKind::File, "huge-5GiB.iso", 5ull << 30, -1, ~0ull},
                       Entry{EntryKind::IpcShare, "IPC$", 0, 0, 0}}},
      EntriesBatch{10, {}},
      DataChunk{11, std::string("\0\x01\xff binary", 10)},
      Done{12, 0, true, "list smb://: no handle and no error"},
      Done{13, 13, false, "list smb://S2"},
      AuthRequest{14, "S2", ""},
      AuthReply{15, Credentials{"", "guest", ""}},
      AuthReply{16, std::nullopt},
  };
}

std::string frameOf(const Message& message) {
  Result<std::string> frame = encodeFrame(message);
  EXPECT_TRUE(frame.ok());
  return frame.ok() ? *frame : std::string();
}

std::string payloadOf(const std::string& frame) { return frame.substr(kFrameHeaderBytes); }

// Every message comes back from the stream of all of them, however it is cut into pieces.
TEST(ProtocolCodec, EveryMessageSurvivesARoundTripFromAnySplit) {
  const std::vector<Message> samples = sampleMessages();
  std::string stream;
  for (const Message& m : samples) stream += frameOf(m);
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, stream.size()}) {
    FrameDecoder decoder;
    std::vector<Message> decoded;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      decoder.append(std::string_view(stream).substr(at, piece));
      for (auto next = decoder.next(); next.ok() && next->has_value(); next = decoder.next()) decoded.push_back(**next);
    }
    ASSERT_EQ(decoded.size(), samples.size()) << "in pieces of " << piece;
    // The encoding is canonical, so equal bytes mean equal messages.
    for (std::size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(encodeMessage(decoded[i]), encodeMessage(samples[i]));
    EXPECT_FALSE(decoder.midFrame());
  }
}

TEST(ProtocolCodec, EveryTruncationAndEveryExtraByteIsRejected) {
  for (const Message& m : sampleMessages()) {
    const std::string payload = payloadOf(frameOf(m));
    for (std::size_t size = 0; size < payload.size(); ++size) {
      auto decoded = decodeMessage(std::string_view(payload).substr(0, size));
      ASSERT_FALSE(decoded.ok()) << "message " << m.index() << " cut to " << size;
      EXPECT_EQ(decoded.error().code, ErrorCode::Protocol);
    }
    EXPECT_FALSE(decodeMessage(payload + '\0').ok()) << "message " << m.index();
  }
}

TEST(ProtocolCodec, OutOfRangeValuesAreRejected) {
  struct Case {
    const char* what;
    std::string payload;
  };
  auto raw = [](auto build) {
    WireWriter w;
    build(w);
    return w.take();
  };
  const std::vector<Case> cases = {
      {"unknown type", raw([](WireWriter& w) { w.u8(99); })},
      {"type zero", raw([](WireWriter& w) { w.u8(0); })},
      {"operation 0", raw([](WireWriter& w) { w.u8(2); w.u32(1); w.u8(0); w.bytes(""); })},
      {"operation 6", raw([](WireWriter& w) { w.u8(2); w.u32(1); w.u8(6); w.bytes(""); })},
      {"entry kind 9", raw([](WireWriter& w) {
         w.u8(3); w.u32(1); w.u32(1); w.u8(9); w.bytes("x"); w.u64(0); w.i64(0); w.u64(0);
       })},
      {"flag 2 in Done", raw([](WireWriter& w) { w.u8(5); w.u32(1); w.i32(0); w.u8(2); w.bytes(""); })},
      {"flag 2 in AuthReply", raw([](WireWriter& w) {
         w.u8(7); w.u32(1); w.u8(2); w.bytes(""); w.bytes(""); w.bytes("");
       })},
      // Lengths that promise more than there is must not be believed (nor allocated).
      {"entry count 4G", raw([](WireWriter& w) { w.u8(3); w.u32(1); w.u32(0xFFFFFFFF); })},
      {"string length 4G", raw([](WireWriter& w) { w.u8(4); w.u32(1); w.u32(0xFFFFFFF0); w.u8('x'); })},
  };
  for (const Case& c : cases) EXPECT_FALSE(decodeMessage(c.payload).ok()) << c.what;
}

TEST(ProtocolCodec, OversizedFramesAreRefusedFromTheHeader) {
  WireWriter header;
  header.u32(static_cast<std::uint32_t>(kMaxFramePayload + 1));
  FrameDecoder decoder;
  decoder.append(header.take());  // no payload yet: refused before it could be buffered
  auto next = decoder.next();
  ASSERT_FALSE(next.ok());
  EXPECT_EQ(next.error().code, ErrorCode::Protocol);
  // A stream cannot be resynchronised after a bad frame.
  decoder.append(frameOf(Done{1, 0, false, ""}));
  EXPECT_FALSE(decoder.next().ok());

  Result<std::string> tooBig = encodeFrame(DataChunk{1, std::string(kMaxFramePayload, 'x')});
  ASSERT_FALSE(tooBig.ok());
  EXPECT_EQ(tooBig.error().code, ErrorCode::InvalidArgument);
  EXPECT_FALSE(encodeDataFrameStart(1, kMaxFramePayload).ok());
}

// File data goes out as a frame start followed by the bytes where they are (the copy test reads
// it end to end); a chunk whose byte count disagrees with its frame is neither shown nor taken.
TEST(ProtocolCodec, DataChunkWithAWrongByteCountIsRefused) {
  std::string bad = frameOf(DataChunk{7, "abcd"});
  bad[9] = 3;  // the byte count's low byte, after the frame header, type and id
  FrameDecoder decoder;
  decoder.append(bad);
  EXPECT_FALSE(decoder.nextData().has_value());
  EXPECT_FALSE(decoder.next().ok());
}

TEST(ProtocolCodec, RandomAndMutatedInputNeverCrashes) {
  std::mt19937 random(20240301);  // fixed seed: failures reproduce
  std::uniform_int_distribution<int> byte(0, 255);
  const std::vector<Message> samples = sampleMessages();
  for (int round = 0; round < 5000; ++round) {
    // Half random bytes, half sample frames with a few bytes changed.
    std::string input(static_cast<std::size_t>(byte(random)) % 64, '\0');
    for (char& c : input) c = static_cast<char>(byte(random));
    if (round % 2 == 1) input = frameOf(samples[static_cast<std::size_t>(round) % samples.size()]);
    for (int flips = round % 2 == 1 ? 1 + byte(random) % 4 : 0; flips > 0; --flips) {
      input[static_cast<std::size_t>(byte(random)) % input.size()] = static_cast<char>(byte(random));
    }
    FrameDecoder decoder;
    decoder.append(input);
    for (auto next = decoder.next(); next.ok() && next->has_value(); next = decoder.next()) {
    }
    (void)decodeMessage(input);
  }
}

}  // namespace
}  // namespace vuv::protocol
