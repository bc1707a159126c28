#include "request/cms_signed_data.h"

#include <array>
#include <optional>

#include "request/der_writer.h"

namespace zvcert {
namespace {

// The DerWriter writes lengths of two bytes at most.
constexpr size_t kMaxElement = 0xFFFF;

constexpr std::array<uint8_t, 3> kVersion1 = {0x02, 0x01, 0x01};  // INTEGER 1
// 1.2.840.113549.1.7.2 signedData
constexpr std::array<uint8_t, 11> kSignedDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                    0xF7, 0x0D, 0x01, 0x07, 0x02};
// 1.2.840.113549.1.7.1 data
constexpr std::array<uint8_t, 11> kDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                              0xF7, 0x0D, 0x01, 0x07, 0x01};
// SEQUENCE { OID contentType 1.2.840.113549.1.9.3,    30 18 06 09 2A 86 48 86 F7 0D 01 09 03
//            SET { OID data } }                       31 0B 06 09 2A 86 48 86 F7 0D 01 07 01
// Shorter than messageDigest's for every hash (30 23 for SHA-1 and up), so
// first in DER's SET OF order.
constexpr std::array<uint8_t, 26> kContentTypeData = {
    0x30, 0x18, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x03,
    0x31, 0x0B, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
// 1.2.840.113549.1.9.4 messageDigest
constexpr std::array<uint8_t, 11> kMessageDigestOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                       0xF7, 0x0D, 0x01, 0x09, 0x04};
// SEQUENCE { OID, NULL }: NULL parameters, as the platform's messages carry them.
// sha1 1.3.14.3.2.26                                 30 09 06 05 2B 0E 03 02 1A 05 00
constexpr std::array<uint8_t, 11> kSha1Algorithm = {0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                                    0x03, 0x02, 0x1A, 0x05, 0x00};
// sha256, sha384, sha512: 2.16.840.1.101.3.4.2.1, .2, .3
// 30 0D 06 09 60 86 48 01 65 03 04 02 0n 05 00
constexpr std::array<uint8_t, 15> Sha2Algorithm(uint8_t last) {
  return {0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, last, 0x05, 0x00};
}
constexpr std::array<uint8_t, 15> kSha256Algorithm = Sha2Algorithm(0x01);
constexpr std::array<uint8_t, 15> kSha384Algorithm = Sha2Algorithm(0x02);
constexpr std::array<uint8_t, 15> kSha512Algorithm = Sha2Algorithm(0x03);

struct DigestAlgorithm {
  std::span<const uint8_t> identifier;
  size_t digestBytes;
};
constexpr DigestAlgorithm DigestOf(SignatureHash hash) {
  switch (hash) {
    case SignatureHash::Sha256:
      return {kSha256Algorithm, 32};
    case SignatureHash::Sha384:
      return {kSha384Algorithm, 48};
    case SignatureHash::Sha512:
      return {kSha512Algorithm, 64};
    case SignatureHash::Sha1:
      break;
  }
  return {kSha1Algorithm, 20};
}

// One element of DER read from the front of its input.
struct Element {
  uint8_t tag;
  std::span<const uint8_t> whole;  // header and content
  std::span<const uint8_t> content;
  std::span<const uint8_t> rest;  // what follows it
};

// Low tag numbers and definite lengths of up to four bytes, as a
// certificate's; anything else, or a length beyond the input, is refused.
std::optional<Element> Read(std::span<const uint8_t> in) {
  if (in.size() < 2 || (in[0] & 0x1F) == 0x1F) return std::nullopt;
  size_t header = 2;
  size_t length = in[1];
  if (length & 0x80) {
    const size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 4 || in.size() < 2 + bytes) return std::nullopt;
    length = 0;
    for (size_t i = 0; i < bytes; ++i) length = length << 8 | in[2 + i];
    header += bytes;
  }
  if (length > in.size() - header) return std::nullopt;
  return Element{in[0], in.first(header + length), in.subspan(header, length),
                 in.subspan(header + length)};
}

std::optional<Element> Read(std::span<const uint8_t> in, uint8_t tag) {
  std::optional<Element> element = Read(in);
  if (element && element->tag != tag) return std::nullopt;
  return element;
}

// The issuer Name and serialNumber of a Certificate, as they are encoded there.
struct SignerIdentifier {
  std::span<const uint8_t> issuer;
  std::span<const uint8_t> serial;
};

std::optional<SignerIdentifier> IdentifierOf(std::span<const uint8_t> certificate) {
  const std::optional<Element> outer = Read(certificate, kSequence);
  if (!outer || !outer->rest.empty()) return std::nullopt;
  const std::optional<Element> tbs = Read(outer->content, kSequence);
  if (!tbs) return std::nullopt;
  std::optional<Element> serial = Read(tbs->content);
  if (serial && serial->tag == kContext0) serial = Read(serial->rest);  // [0] version
  if (!serial || serial->tag != kInteger || serial->content.empty()) return std::nullopt;
  const std::optional<Element> signature = Read(serial->rest, kSequence);
  if (!signature) return std::nullopt;
  const std::optional<Element> issuer = Read(signature->rest, kSequence);
  if (!issuer) return std::nullopt;
  return SignerIdentifier{issuer->whole, serial->whole};
}

CmsBuildResult Check(const CmsSignedDataParts& parts) {
  if (!IdentifierOf(parts.certificate)) return CmsBuildResult::CertificateNotParsed;
  if (parts.contentDigest.size() != DigestOf(parts.hash).digestBytes) {
    return CmsBuildResult::WrongDigestLength;
  }
  return CmsBuildResult::Ok;
}

// Signed under a SET tag, carried under [0] IMPLICIT (RFC 5652, 5.4).
void WriteSignedAttributes(DerWriter& writer, uint8_t tag, std::span<const uint8_t> digest) {
  DerElement attributes = writer.Open(tag);
  writer.Bytes(kContentTypeData);
  DerElement messageDigest = writer.Open(kSequence);
  writer.Bytes(kMessageDigestOid);
  DerElement values = writer.Open(kSet);
  writer.Element(kOctetString, digest);
}

}  // namespace

CmsBuildResult WriteCmsSignedAttributes(const CmsSignedDataParts& parts,
                                        std::vector<uint8_t>& toBeSigned) {
  toBeSigned.clear();
  if (const CmsBuildResult checked = Check(parts); checked != CmsBuildResult::Ok) return checked;
  std::array<uint8_t, 128> area;  // 110 bytes with a SHA-512 digest
  DerWriter writer(area);
  WriteSignedAttributes(writer, kSet, parts.contentDigest);
  toBeSigned.assign(writer.written().begin(), writer.written().end());
  return CmsBuildResult::Ok;
}

CmsBuildResult FinishCmsSignedData(const CmsSignedDataParts& parts,
                                   std::span<const uint8_t> signature, std::vector<uint8_t>& out) {
  out.clear();
  if (const CmsBuildResult checked = Check(parts); checked != CmsBuildResult::Ok) return checked;
  if (signature.empty() || signature.size() > kMaxKeyBits / 8) {
    return CmsBuildResult::WrongSignatureLength;
  }
  // Refused before the area is sized by them.
  if (parts.certificate.size() > kMaxElement ||
      (!parts.detached && parts.content.size() > kMaxElement)) {
    return CmsBuildResult::TooLong;
  }
  const SignerIdentifier signer = *IdentifierOf(parts.certificate);
  const std::span<const uint8_t> digestAlgorithm = DigestOf(parts.hash).identifier;

  // The parts, the digest twice and the fixed elements with their headers.
  std::vector<uint8_t> area(512 + parts.certificate.size() + 2 * parts.contentDigest.size() +
                            signature.size() + (parts.detached ? 0 : parts.content.size()));
  DerWriter writer(area);
  {
    DerElement contentInfo = writer.Open(kSequence);
    writer.Bytes(kSignedDataOid);
    DerElement explicitContent = writer.Open(kContext0);
    DerElement signedData = writer.Open(kSequence);
    writer.Bytes(kVersion1);
    writer.Element(kSet, digestAlgorithm);
    {
      DerElement encapsulated = writer.Open(kSequence);
      writer.Bytes(kDataOid);
      if (!parts.detached) {
        DerElement eContent = writer.Open(kContext0);
        writer.Element(kOctetString, parts.content);
      }
    }
    writer.Element(kContext0, parts.certificate);  // certificates [0] IMPLICIT SET OF
    DerElement signerInfos = writer.Open(kSet);
    DerElement signerInfo = writer.Open(kSequence);
    writer.Bytes(kVersion1);
    {
      DerElement issuerAndSerial = writer.Open(kSequence);
      writer.Bytes(signer.issuer);
      writer.Bytes(signer.serial);
    }
    writer.Bytes(digestAlgorithm);
    WriteSignedAttributes(writer, kContext0, parts.contentDigest);
    writer.Bytes(kRsaEncryptionAlgorithm);
    writer.Element(kOctetString, signature);
  }
  if (!writer.ok()) return CmsBuildResult::TooLong;
  out.assign(writer.written().begin(), writer.written().end());
  return CmsBuildResult::Ok;
}

}  // namespace zvcert
