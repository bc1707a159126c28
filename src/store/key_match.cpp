#include "store/key_match.h"

#include <optional>

namespace zvcert {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kInteger = 0x02;
constexpr size_t kBitLengthAt = 12;    // RSAPUBKEY.bitlen
constexpr size_t kBlobModulusAt = 20;  // after BLOBHEADER and RSAPUBKEY

// One DER element at the start of bytes, never read past their end: its tag
// and content, and what follows it.
struct Element {
  uint8_t tag;
  std::span<const uint8_t> content;
};
std::optional<Element> ReadElement(std::span<const uint8_t> bytes) {
  if (bytes.size() < 2) return std::nullopt;
  size_t length = bytes[1];
  size_t at = 2;
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 3 || bytes.size() - at < count) return std::nullopt;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes[at++];
  }
  if (bytes.size() - at < length) return std::nullopt;
  return Element{bytes[0], bytes.subspan(at, length)};
}

}  // namespace

bool ModulusMatches(std::span<const uint8_t> key, std::span<const uint8_t> blob) {
  if (blob.size() < kBlobModulusAt) return false;
  const uint32_t bits = blob[kBitLengthAt] | (blob[kBitLengthAt + 1] << 8) |
                        (blob[kBitLengthAt + 2] << 16) |
                        (static_cast<uint32_t>(blob[kBitLengthAt + 3]) << 24);
  const size_t n = bits >> 3;
  if (blob.size() - kBlobModulusAt < n) return false;

  // RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
  const std::optional<Element> rsaKey = ReadElement(key);
  if (!rsaKey || rsaKey->tag != kSequence) return false;
  const std::optional<Element> integer = ReadElement(rsaKey->content);
  if (!integer || integer->tag != kInteger) return false;
  std::span<const uint8_t> modulus = integer->content;
  // The sign byte (and any other leading zero) is no part of the value.
  while (modulus.size() > 1 && modulus[0] == 0) modulus = modulus.subspan(1);
  if (modulus.size() != n || n == 0) return false;
  for (size_t i = 0; i < n; ++i) {
    if (modulus[n - 1 - i] != blob[kBlobModulusAt + i]) return false;
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
