#include "request/request_body.h"

#include <algorithm>
#include <array>

#include "encoding/utf8.h"
#include "request/der_writer.h"
#include "request/signed_request.h"

namespace zvcert {
namespace {

// 1.2.840.113549.1.1.5, .11, .12 and .13: sha1, sha256, sha384 and
// sha512WithRSAEncryption; they differ in the last byte alone.
constexpr std::array<uint8_t, 9> kShaWithRsaOid = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                   0x0D, 0x01, 0x01, 0x05};
constexpr uint8_t ShaWithRsaOidLastByte(SignatureHash hash) {
  switch (hash) {
    case SignatureHash::Sha256:
      return 0x0B;
    case SignatureHash::Sha384:
      return 0x0C;
    case SignatureHash::Sha512:
      return 0x0D;
    case SignatureHash::Sha1:
      break;
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

// PUBLICKEYBLOB: BLOBHEADER (8 bytes), then RSAPUBKEY magic, bitlen, pubexp.
constexpr size_t kBitLengthOffset = 12;
constexpr size_t kExponentOffset = 16;
constexpr size_t kModulusOffset = 20;
constexpr size_t kMaxModulusBytes = kMaxKeyBits / 8;

uint32_t ReadLe32(std::span<const uint8_t> bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

// A non-negative INTEGER from the little-endian bytes of a key blob: most
// significant first, leading zeros dropped, one 00 put back when the top bit
// is set.
void WriteUnsignedInteger(DerWriter& writer, std::span<const uint8_t> littleEndian) {
  while (littleEndian.size() > 1 && littleEndian.back() == 0) {
    littleEndian = littleEndian.first(littleEndian.size() - 1);
  }
  DerElement integer = writer.Open(kInteger);
  if (!littleEndian.empty() && (littleEndian.back() & 0x80) != 0) writer.Byte(0x00);
  for (size_t i = littleEndian.size(); i-- > 0;) writer.Byte(littleEndian[i]);
}

bool IsPrintable(std::string_view text) {
  constexpr std::string_view kPunctuation = " '()+,-./:=?";
  return std::all_of(text.begin(), text.end(), [&](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           kPunctuation.find(c) != std::string_view::npos;
  });
}

// Well-formed UTF-8 of the value: what is not becomes U+FFFD.
void WriteUtf8(DerWriter& writer, std::string_view value) {
  for (size_t pos = 0; pos < value.size();) {
    std::array<char, 4> bytes;
    const size_t n = EncodeUtf8(NextCodePoint(value, pos), bytes);
    writer.Bytes(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), n));
  }
}

constexpr size_t kMaxAttributeValue = 48;
constexpr size_t kCutAttributeValue = 30;

// SEQUENCE { OID, SET { string } }
void WriteAttribute(DerWriter& writer, std::span<const uint8_t> oid, std::string_view value) {
  if (value.size() > kMaxAttributeValue) value = value.substr(0, kCutAttributeValue);
  DerElement attribute = writer.Open(kSequence);
  writer.Element(kOid, oid);
  DerElement set = writer.Open(kSet);
  if (IsPrintable(value)) {
    writer.Element(kPrintableString,
                   std::span(reinterpret_cast<const uint8_t*>(value.data()), value.size()));
  } else {
    DerElement text = writer.Open(kUtf8String);
    WriteUtf8(writer, value);
  }
}

void WritePublicKeyInfo(DerWriter& writer, std::span<const uint8_t> blob) {
  if (blob.size() < kModulusOffset) return writer.Fail();
  const size_t modulusBytes = ReadLe32(blob, kBitLengthOffset) / 8;
  if (modulusBytes == 0 || modulusBytes > kMaxModulusBytes ||
      blob.size() - kModulusOffset < modulusBytes) {
    return writer.Fail();
  }
  // SEQUENCE { AlgorithmIdentifier,
  //            BIT STRING { 00 unused bits,
  //                         SEQUENCE { INTEGER modulus, INTEGER publicExponent } } }
  DerElement info = writer.Open(kSequence, kKeyInfoAreaSize);
  writer.Bytes(kRsaEncryptionAlgorithm);
  DerElement bits = writer.Open(kBitString);
  writer.Byte(0x00);
  DerElement rsaKey = writer.Open(kSequence);
  WriteUnsignedInteger(writer, blob.subspan(kModulusOffset, modulusBytes));
  WriteUnsignedInteger(writer, blob.subspan(kExponentOffset, 4));
}

void WriteRequestAttributes(DerWriter& writer, std::string_view unstructuredName,
                            std::string_view challengePassword) {
  DerElement block = writer.Open(kContext0, kAttributesAreaSize);
  const size_t first = writer.size();
  WriteAttribute(writer, kUnstructuredNameOid, unstructuredName);
  const size_t second = writer.size();
  WriteAttribute(writer, kChallengePasswordOid, challengePassword);
  if (!writer.ok()) return;
  // A SET OF holds its elements in ascending order of their encodings.
  const std::span<uint8_t> both = writer.written().subspan(first);
  const auto middle = both.begin() + static_cast<std::ptrdiff_t>(second - first);
  if (std::lexicographical_compare(middle, both.end(), both.begin(), middle)) {
    std::rotate(both.begin(), middle, both.end());
  }
}

}  // namespace

int32_t EncodePublicKeyInfo(std::span<const uint8_t> blob,
                            std::span<uint8_t, kKeyInfoAreaSize> out) {
  DerWriter writer(out);
  WritePublicKeyInfo(writer, blob);
  return writer.resultLength();
}

int32_t EncodeRequestAttributes(std::string_view unstructuredName,
                                std::string_view challengePassword,
                                std::span<uint8_t, kAttributesAreaSize> out) {
  DerWriter writer(out);
  WriteRequestAttributes(writer, unstructuredName, challengePassword);
  return writer.resultLength();
}

void WriteRequestInfo(DerWriter& writer, std::span<const uint8_t> publicKeyBlob,
                      const SubjectValues& subject, std::string_view unstructuredName,
                      std::string_view challengePassword) {
  // SEQUENCE { version, subject, key, attributes }
  DerElement info = writer.Open(kSequence);
  writer.Bytes(kVersion0);
  WriteSubjectName(writer, subject);
  WritePublicKeyInfo(writer, publicKeyBlob);
  WriteRequestAttributes(writer, unstructuredName, challengePassword);
}

int32_t BuildRequestInfo(std::span<uint8_t> out, std::span<const uint8_t> publicKeyBlob,
                         const SubjectValues& subject, std::string_view unstructuredName,
                         std::string_view challengePassword) {
  DerWriter writer(out);
  WriteRequestInfo(writer, publicKeyBlob, subject, unstructuredName, challengePassword);
  return writer.resultLength();
}

std::span<uint8_t> WriteSignatureFrame(DerWriter& writer, SignatureHash hash,
                                       size_t signatureBytes) {
  std::array<uint8_t, kShaWithRsaOid.size()> oid = kShaWithRsaOid;
  oid.back() = ShaWithRsaOidLastByte(hash);
  {
    DerElement algorithm = writer.Open(kSequence);  // SEQUENCE { OID, NULL }
    writer.Element(kOid, oid);
    writer.Bytes(kNull);
  }
  {
    DerElement bits = writer.Open(kBitString);  // BIT STRING { 00 unused bits, signature }
    writer.Byte(0x00);
    writer.Reserve(signatureBytes);
  }
  return writer.ok() ? writer.written().last(signatureBytes) : std::span<uint8_t>();
}

RequestResult WriteSignedRequest(std::span<uint8_t, kRequestAreaSize> area, int32_t& requestLength,
                                 std::span<const uint8_t> publicKeyBlob, RequestSigner& signer,
                                 const SubjectValues& subject, std::string_view unstructuredName,
                                 std::string_view challengePassword) {
  DerWriter writer(area);
  DerElement request = writer.Open(kSequence);  // SEQUENCE { info, algorithm, signature }
  const size_t infoAt = writer.size();
  WriteRequestInfo(writer, publicKeyBlob, subject, unstructuredName, challengePassword);
  if (!writer.ok()) return RequestResult::RequestBodyNotBuilt;
  // A hash that missed the body would sign something else.
  if (!signer.Take(writer.written().subspan(infoAt))) return RequestResult::HashNotMade;

  // The BIT STRING announces a signature as long as the build's key; any
  // other length is refused by the signer.
  const std::span<uint8_t> signature = WriteSignatureFrame(writer, kSignatureHash, kSignatureBytes);
  if (signature.empty()) return RequestResult::RequestTooLong;
  if (!signer.Sign(signature)) return RequestResult::NotSigned;

  request.Close();
  if (!writer.ok()) return RequestResult::RequestTooLong;
  requestLength = writer.resultLength();
  return RequestResult::Ok;
}

}  // namespace zvcert
