#include "store/key_match.h"

namespace zvcert {
namespace {

constexpr size_t kCertificateModulusAt = 7;  // after 30 81 89 02 81 81 00
constexpr size_t kBitLengthAt = 12;          // RSAPUBKEY.bitlen
constexpr size_t kBlobModulusAt = 20;        // after BLOBHEADER and RSAPUBKEY

}  // namespace

bool ModulusMatches(std::span<const uint8_t> key, std::span<const uint8_t> blob) {
  if (blob.size() < kBlobModulusAt) return false;
  const uint32_t bits = blob[kBitLengthAt] | (blob[kBitLengthAt + 1] << 8) |
                        (blob[kBitLengthAt + 2] << 16) |
                        (static_cast<uint32_t>(blob[kBitLengthAt + 3]) << 24);
  const size_t n = bits >> 3;
  if (blob.size() - kBlobModulusAt < n || key.size() < kCertificateModulusAt ||
      key.size() - kCertificateModulusAt < n) {
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    if (key[kCertificateModulusAt + n - 1 - i] != blob[kBlobModulusAt + i]) return false;
  }
  return true;
}

ContainerName ContainerNameFromGuid(std::string_view guidText) {
  ContainerName name{};
  name[0] = '{';
  const std::string_view guid = guidText.substr(0, 36);
  for (size_t i = 0; i < guid.size(); ++i) {
    const char c = guid[i];
    name[1 + i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  }
  name[37] = '}';
  name[38] = '\0';
  return name;
}

}  // namespace zvcert
