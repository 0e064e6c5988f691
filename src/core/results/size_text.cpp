#include "results/size_text.h"

namespace vuv {

namespace {
constexpr std::uint64_t kKbyte = 1024;
constexpr std::uint64_t kMbyte = 1024 * 1024;
}  // namespace

std::uint64_t displayedSizeValue(std::uint64_t size) {
  if (size < kKbyte) return size;
  if (size < kMbyte) return size & ~(kKbyte - 1);
  return size & ~(kMbyte - 1);
}

std::string sizeText(std::uint64_t size, bool isFolder) {
  if (isFolder) return "<Folder>";
  if (size < kKbyte) return std::to_string(size) + " bytes";
  if (size < kMbyte) return std::to_string(size >> 10) + " Kbytes";
  return std::to_string(size >> 20) + " Mbytes";
}

}  // namespace vuv
