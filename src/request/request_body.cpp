#include "request/request_body.h"

#include <algorithm>
#include <array>

#include "encoding/utf8.h"
#include "request/der_writer.h"

namespace zvcert {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kPrintableString = 0x13;
constexpr uint8_t kUtf8String = 0x0C;
constexpr uint8_t kContextAttributes = 0xA0;  // [0] constructed

// SEQUENCE { OID rsaEncryption 1.2.840.113549.1.1.1, NULL }
constexpr std::array<uint8_t, 15> kRsaEncryptionAlgorithm = {
    0x30, 0x0D,                                                        // SEQUENCE
    0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01,  // rsaEncryption
    0x05, 0x00};                                                       // NULL
// 1.2.840.113549.1.1.5, .11, .12 and .13: sha1, sha256, sha384 and
// sha512WithRSAEncryption; they differ in the last byte alone.
constexpr std::array<uint8_t, 9> kShaWithRsaOid = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                   0x0D, 0x01, 0x01, 0x05};
constexpr uint8_t ShaWithRsaOidLastByte(SignatureHash hash) {
  switch (hash) {
    case SignatureHash::Sha256: return 0x0B;
    case SignatureHash::Sha384: return 0x0C;
    case SignatureHash::Sha512: return 0x0D;
    case SignatureHash::Sha1: break;
  }
  return 0x05;
}
constexpr std::array<uint8_t, 2> kNull = {0x05, 0x00};
// 1.2.840.113549.1.9.2 and 1.2.840.113549.1.9.7
constexpr std::array<uint8_t, 9> kUnstructuredNameOid = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                         0x0D, 0x01, 0x09, 0x02};
constexpr std::array<uint8_t, 9> kChallengePasswordOid = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                          0x0D, 0x01, 0x09, 0x07};
constexpr std::array<uint8_t, 3> kVersion0 = {0x02, 0x01, 0x00};  // INTEGER 0
// Version, the largest Name, a key of the largest modulus, the largest block.
constexpr size_t kRequestInfoContentMax = 3 + kNameAreaSize + kKeyInfoAreaSize + kAttributesAreaSize;

// PUBLICKEYBLOB: BLOBHEADER (8 bytes), then RSAPUBKEY magic, bitlen, pubexp.
constexpr size_t kBitLengthOffset = 12;
constexpr size_t kExponentOffset = 16;
constexpr size_t kModulusOffset = 20;
constexpr size_t kMaxModulusBytes = kMaxKeyBits / 8;

uint32_t ReadLe32(std::span<const uint8_t> bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

// A non-negative INTEGER's content from big-endian bytes: leading zeros
// dropped, one 00 put back when the top bit is set.
void WriteUnsignedInteger(DerWriter& writer, std::span<const uint8_t> bigEndian) {
  while (bigEndian.size() > 1 && bigEndian[0] == 0) bigEndian = bigEndian.subspan(1);
  const bool pad = !bigEndian.empty() && (bigEndian[0] & 0x80) != 0;
  writer.Byte(kInteger);
  writer.Length(bigEndian.size() + (pad ? 1 : 0));
  if (pad) writer.Byte(0x00);
  writer.Bytes(bigEndian);
}

bool IsPrintable(std::string_view text) {
  constexpr std::string_view kPunctuation = " '()+,-./:=?";
  return std::all_of(text.begin(), text.end(), [&](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           kPunctuation.find(c) != std::string_view::npos;
  });
}

// Well-formed UTF-8 of the value: what is not becomes U+FFFD.
size_t ToUtf8(std::string_view value, std::span<uint8_t> out) {
  size_t n = 0;
  for (size_t pos = 0; pos < value.size();) {
    const char32_t cp = NextCodePoint(value, pos);
    if (cp < 0x80) {
      out[n++] = static_cast<uint8_t>(cp);
    } else if (cp < 0x800) {
      out[n++] = static_cast<uint8_t>(0xC0 | (cp >> 6));
      out[n++] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out[n++] = static_cast<uint8_t>(0xE0 | (cp >> 12));
      out[n++] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
      out[n++] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    } else {
      out[n++] = static_cast<uint8_t>(0xF0 | (cp >> 18));
      out[n++] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
      out[n++] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
      out[n++] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    }
  }
  return n;
}

constexpr size_t kMaxAttributeValue = 48;
constexpr size_t kCutAttributeValue = 30;
// 30 bytes turned to UTF-8 at worst (each byte U+FFFD, three bytes) and a
// 48-byte value at best; both fit.
constexpr size_t kAttributeValueArea = 3 * kMaxAttributeValue;
constexpr size_t kAttributeArea = 2 * kAttributeValueArea;

// SEQUENCE { OID, SET { string } }
size_t EncodeAttribute(std::span<const uint8_t> oid, std::string_view value,
                       std::array<uint8_t, kAttributeArea>& area) {
  if (value.size() > kMaxAttributeValue) value = value.substr(0, kCutAttributeValue);
  std::array<uint8_t, kAttributeValueArea> text;
  uint8_t tag = kPrintableString;
  size_t length = value.copy(reinterpret_cast<char*>(text.data()), text.size());
  if (!IsPrintable(value)) {
    tag = kUtf8String;
    length = ToUtf8(value, text);
  }
  std::array<uint8_t, kAttributeArea> set;
  DerWriter values(set);
  values.Element(tag, std::span(text).first(length));
  std::array<uint8_t, kAttributeArea> pair;
  DerWriter content(pair);
  content.Element(kOid, oid);
  content.Element(kSet, values.written());
  DerWriter attribute(area);
  attribute.Element(kSequence, content.written());
  return attribute.ok() ? attribute.size() : 0;
}

}  // namespace

int32_t EncodePublicKeyInfo(std::span<const uint8_t> blob,
                            std::span<uint8_t, kKeyInfoAreaSize> out) {
  if (blob.size() < kModulusOffset) return 0;
  const size_t modulusBytes = ReadLe32(blob, kBitLengthOffset) / 8;
  if (modulusBytes == 0 || modulusBytes > kMaxModulusBytes ||
      blob.size() - kModulusOffset < modulusBytes) {
    return 0;
  }
  std::array<uint8_t, kMaxModulusBytes> modulus;
  std::reverse_copy(blob.begin() + kModulusOffset, blob.begin() + kModulusOffset + modulusBytes,
                    modulus.begin());
  const uint32_t exponent = ReadLe32(blob, kExponentOffset);
  const std::array<uint8_t, 4> exponentBytes = {
      static_cast<uint8_t>(exponent >> 24), static_cast<uint8_t>(exponent >> 16),
      static_cast<uint8_t>(exponent >> 8), static_cast<uint8_t>(exponent)};

  // SEQUENCE { INTEGER modulus, INTEGER publicExponent }
  std::array<uint8_t, kKeyInfoAreaSize> integers;
  DerWriter rsaKey(integers);
  WriteUnsignedInteger(rsaKey, std::span(modulus).first(modulusBytes));
  WriteUnsignedInteger(rsaKey, exponentBytes);
  // BIT STRING { 00 unused bits, SEQUENCE RSAPublicKey }
  std::array<uint8_t, kKeyInfoAreaSize> bits;
  DerWriter bitString(bits);
  bitString.Byte(0x00);
  bitString.Element(kSequence, rsaKey.written());
  // SEQUENCE { AlgorithmIdentifier, BIT STRING }
  std::array<uint8_t, kKeyInfoAreaSize> content;
  DerWriter info(content);
  info.Bytes(kRsaEncryptionAlgorithm);
  info.Element(kBitString, bitString.written());
  DerWriter whole(out);
  whole.Element(kSequence, info.written());
  return rsaKey.ok() && bitString.ok() && info.ok() && whole.ok()
             ? static_cast<int32_t>(whole.size())
             : 0;
}

int32_t EncodeRequestAttributes(std::string_view unstructuredName,
                                std::string_view challengePassword,
                                std::span<uint8_t, kAttributesAreaSize> out) {
  std::array<uint8_t, kAttributeArea> name, password;
  const size_t nameLength = EncodeAttribute(kUnstructuredNameOid, unstructuredName, name);
  const size_t passwordLength = EncodeAttribute(kChallengePasswordOid, challengePassword, password);
  std::span<const uint8_t> first = std::span(name).first(nameLength);
  std::span<const uint8_t> second = std::span(password).first(passwordLength);
  // A SET OF holds its elements in ascending order of their encodings.
  if (std::lexicographical_compare(second.begin(), second.end(), first.begin(), first.end())) {
    std::swap(first, second);
  }
  std::array<uint8_t, 2 * kAttributeArea> both;
  DerWriter content(both);
  content.Bytes(first);
  content.Bytes(second);
  DerWriter block(out);
  block.Element(kContextAttributes, content.written());
  return nameLength != 0 && passwordLength != 0 && content.ok() && block.ok()
             ? static_cast<int32_t>(block.size())
             : 0;
}

int32_t BuildRequestInfo(std::span<uint8_t> out, std::span<const uint8_t> publicKeyBlob,
                         const SubjectValues& subject, std::string_view unstructuredName,
                         std::string_view challengePassword) {
  std::array<uint8_t, kNameAreaSize> name;
  std::array<uint8_t, kKeyInfoAreaSize> keyInfo;
  std::array<uint8_t, kAttributesAreaSize> attributes;
  const int32_t nameLength = EncodeSubjectName(name, subject);
  const int32_t keyInfoLength = EncodePublicKeyInfo(publicKeyBlob, keyInfo);
  const int32_t attributesLength =
      EncodeRequestAttributes(unstructuredName, challengePassword, attributes);
  if (nameLength == 0 || keyInfoLength == 0 || attributesLength == 0) return 0;

  // SEQUENCE { version, subject, key, attributes }, its length in the
  // shortest form (two bytes for every request with a 1024-bit key).
  std::array<uint8_t, kRequestInfoContentMax> content;
  DerWriter body(content);
  body.Bytes(kVersion0);
  body.Bytes(std::span(name).first(nameLength));
  body.Bytes(std::span(keyInfo).first(keyInfoLength));
  body.Bytes(std::span(attributes).first(attributesLength));
  DerWriter writer(out);
  writer.Element(kSequence, body.written());
  return body.ok() && writer.ok() ? static_cast<int32_t>(writer.size()) : 0;
}

int32_t EncodeSignatureHeader(SignatureHash hash, size_t signatureBytes, std::span<uint8_t> out) {
  std::array<uint8_t, kShaWithRsaOid.size()> oid = kShaWithRsaOid;
  oid.back() = ShaWithRsaOidLastByte(hash);
  // SEQUENCE { OID, NULL }
  std::array<uint8_t, 13> algorithm;
  DerWriter content(algorithm);
  content.Element(kOid, oid);
  content.Bytes(kNull);
  DerWriter writer(out);
  writer.Element(kSequence, content.written());
  // BIT STRING { 00 unused bits, then the signature the caller appends }
  writer.Byte(kBitString);
  writer.Length(signatureBytes + 1);
  writer.Byte(0x00);
  return content.ok() && writer.ok() ? static_cast<int32_t>(writer.size()) : 0;
}

}  // namespace zvcert
