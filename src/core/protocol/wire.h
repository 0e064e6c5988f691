// Little-endian primitives of the worker protocol: the writer appends, the reader consumes and
// never trusts a length it reads (every length is checked against the bytes that remain, so a
// malformed message cannot cause a large allocation or a read past its end).
// Internal to protocol/; single-threaded values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vuv::protocol {

class WireWriter {
 public:
  void u8(std::uint8_t value) { out_ += static_cast<char>(value); }
  void u16(std::uint16_t value) { fixed(value, 2); }
  void u32(std::uint32_t value) { fixed(value, 4); }
  void u64(std::uint64_t value) { fixed(value, 8); }
  void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }
  void i64(std::int64_t value) { u64(static_cast<std::uint64_t>(value)); }
  // u32 byte count, then the bytes.
  void bytes(std::string_view value);

  std::string take() { return std::move(out_); }

 private:
  void fixed(std::uint64_t value, int size);
  std::string out_;
};

// Each read returns false, and the reader stays failed, when the input runs short.
class WireReader {
 public:
  explicit WireReader(std::string_view input) : input_(input) {}

  bool u8(std::uint8_t& value);
  bool u16(std::uint16_t& value);
  bool u32(std::uint32_t& value);
  bool u64(std::uint64_t& value);
  bool i32(std::int32_t& value);
  bool i64(std::int64_t& value);
  bool bytes(std::string& value);

  std::size_t remaining() const { return input_.size(); }
  bool failed() const { return failed_; }

 private:
  bool fixed(std::uint64_t& value, std::size_t size);
  bool fail() {
    failed_ = true;
    return false;
  }
  std::string_view input_;
  bool failed_ = false;
};

}  // namespace vuv::protocol
