#include "protocol/wire.h"

namespace vuv::protocol {

constexpr int kBitsPerByte = 8;

void WireWriter::fixed(std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) {
    out_ += static_cast<char>((value >> (kBitsPerByte * i)) & 0xFF);
  }
}

void WireWriter::bytes(std::string_view value) {
  u32(static_cast<std::uint32_t>(value.size()));
  out_ += value;
}

bool WireReader::fixed(std::uint64_t& value, std::size_t size) {
  if (failed_ || input_.size() < size) return fail();
  value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value |= static_cast<std::uint64_t>(static_cast<unsigned char>(input_[i]))
             << (kBitsPerByte * i);
  }
  input_.remove_prefix(size);
  return true;
}

bool WireReader::u8(std::uint8_t& value) {
  std::uint64_t v = 0;
  if (!fixed(v, 1)) return false;
  value = static_cast<std::uint8_t>(v);
  return true;
}

bool WireReader::u16(std::uint16_t& value) {
  std::uint64_t v = 0;
  if (!fixed(v, 2)) return false;
  value = static_cast<std::uint16_t>(v);
  return true;
}

bool WireReader::u32(std::uint32_t& value) {
  std::uint64_t v = 0;
  if (!fixed(v, 4)) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

bool WireReader::u64(std::uint64_t& value) { return fixed(value, 8); }

bool WireReader::i32(std::int32_t& value) {
  std::uint32_t v = 0;
  if (!u32(v)) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool WireReader::i64(std::int64_t& value) {
  std::uint64_t v = 0;
  if (!u64(v)) return false;
  value = static_cast<std::int64_t>(v);
  return true;
}

bool WireReader::bytes(std::string& value) {
  std::uint32_t size = 0;
  if (!u32(size)) return false;
  // The length is checked against what is really there before anything is allocated.
  if (size > input_.size()) return fail();
  value.assign(input_.substr(0, size));
  input_.remove_prefix(size);
  return true;
}

}  // namespace vuv::protocol
