#include "store/certificate_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>

#include "encoding/sha1.h"
#include "encoding/sha256.h"
#include "encoding/sha512.h"
#include "encoding/utf16.h"
#include "encoding/utf8.h"
#include "store/rsa_public.h"

namespace zvcert {
namespace {

using Bytes = std::span<const uint8_t>;

constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kUtf8String = 0x0C;
constexpr uint8_t kNumericString = 0x12;
constexpr uint8_t kPrintableString = 0x13;
constexpr uint8_t kTeletexString = 0x14;
constexpr uint8_t kIa5String = 0x16;
constexpr uint8_t kUtcTime = 0x17;
constexpr uint8_t kGeneralizedTime = 0x18;
constexpr uint8_t kVisibleString = 0x1A;
constexpr uint8_t kUniversalString = 0x1C;
constexpr uint8_t kBmpString = 0x1E;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kVersion = 0xA0;          // [0] EXPLICIT
constexpr uint8_t kIssuerUniqueId = 0x81;   // [1] IMPLICIT BIT STRING
constexpr uint8_t kSubjectUniqueId = 0x82;  // [2] IMPLICIT BIT STRING
constexpr uint8_t kExtensions = 0xA3;       // [3] EXPLICIT

// 1.2.840.113549.1.1.1 rsaEncryption; the signature algorithms are its
// siblings 1.2.840.113549.1.1.x.
constexpr std::array<uint8_t, 9> kRsaEncryption = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                   0x0D, 0x01, 0x01, 0x01};

struct Element {
  uint8_t tag = 0;
  Bytes whole;  // tag and length included
  Bytes content;
};

// Takes the first element off in: a low tag number and a definite length in
// its shortest form, inside in.
bool Take(Bytes& in, Element& e) {
  if (in.size() < 2 || (in[0] & 0x1F) == 0x1F) return false;
  size_t header = 2;
  size_t length = in[1];
  if (length & 0x80) {
    const size_t count = length & 0x7F;  // 0: the indefinite form
    if (count == 0 || count > 4 || in.size() - 2 < count || in[2] == 0) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = length << 8 | in[2 + i];
    if (length < 0x80) return false;
    header += count;
  }
  if (length > in.size() - header) return false;
  e.tag = in[0];
  e.whole = in.first(header + length);
  e.content = e.whole.subspan(header);
  in = in.subspan(header + length);
  return true;
}

bool Take(Bytes& in, uint8_t tag, Element& e) { return Take(in, e) && e.tag == tag; }

bool Next(Bytes in, uint8_t tag) { return !in.empty() && in[0] == tag; }

bool MinimalInteger(Bytes c) {
  return !c.empty() &&
         !(c.size() > 1 && ((c[0] == 0 && c[1] < 0x80) || (c[0] == 0xFF && c[1] >= 0x80)));
}

bool PositiveInteger(Bytes c) {
  return MinimalInteger(c) && c[0] < 0x80 && !(c.size() == 1 && c[0] == 0);
}

Bytes WithoutLeadingZeros(Bytes c) {
  while (!c.empty() && c[0] == 0) c = c.subspan(1);
  return c;
}

bool ValidOid(Bytes c) {
  if (c.empty() || (c.back() & 0x80)) return false;
  bool starts = true;
  for (const uint8_t b : c) {
    if (starts && b == 0x80) return false;  // a sub-identifier padded with a zero group
    starts = !(b & 0x80);
  }
  return true;
}

// AlgorithmIdentifier ::= SEQUENCE { algorithm OID, parameters ANY OPTIONAL }
bool TakeAlgorithm(Bytes& in, Element& algorithm, Bytes& oid) {
  Element id, parameters;
  if (!Take(in, kSequence, algorithm)) return false;
  Bytes rest = algorithm.content;
  if (!Take(rest, kOid, id) || !ValidOid(id.content)) return false;
  if (!rest.empty() && !Take(rest, parameters)) return false;
  oid = id.content;
  return rest.empty();
}

// Walks all of a Name (SEQUENCE OF SET OF SEQUENCE { type OID, value }), so
// that a malformed one is refused wherever the wanted attribute lies.
bool WalkName(Bytes der, Bytes oid, Element& value, bool& found) {
  Element name;
  found = false;
  if (!Take(der, kSequence, name) || !der.empty()) return false;
  for (Bytes rdns = name.content; !rdns.empty();) {
    Element rdn;
    if (!Take(rdns, kSet, rdn) || rdn.content.empty()) return false;
    for (Bytes attributes = rdn.content; !attributes.empty();) {
      Element attribute, type, v;
      if (!Take(attributes, kSequence, attribute)) return false;
      Bytes rest = attribute.content;
      if (!Take(rest, kOid, type) || !ValidOid(type.content) || !Take(rest, v) || !rest.empty()) {
        return false;
      }
      if (!found && std::ranges::equal(type.content, oid)) value = v, found = true;
    }
  }
  return true;
}

bool TakeName(Bytes& in, Bytes& view) {
  Element name, unused;
  bool found;
  if (!Take(in, kSequence, name) || !WalkName(name.whole, {}, unused, found)) return false;
  view = name.whole;
  return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and
// back: eras of 400 years, each year counted from March so that a leap day
// falls at its end.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(y - era * 400);
  const unsigned dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t& y, unsigned& m, unsigned& d) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  d = dayOfYear - (153 * shifted + 2) / 5 + 1;
  m = shifted < 10 ? shifted + 3 : shifted - 9;
  y = yearOfEra + era * 400 + (m <= 2);
}

bool Digits(Bytes c, size_t& at, size_t count, unsigned& value) {
  value = 0;
  for (size_t end = at + count; at < end; ++at) {
    if (c[at] < '0' || c[at] > '9') return false;
    value = value * 10 + (c[at] - '0');
  }
  return true;
}

// UTCTime YYMMDDhhmmssZ (YY from 50 in the 1900s) or GeneralizedTime
// YYYYMMDDhhmmssZ, the forms RFC 5280 allows.
bool TakeTime(Bytes& in, int64_t& seconds) {
  Element time;
  if (!Take(in, time)) return false;
  const Bytes c = time.content;
  size_t at = 0;
  unsigned year, month, day, hour, minute, second;
  if (time.tag == kUtcTime && c.size() == 13) {
    if (!Digits(c, at, 2, year)) return false;
    year += year >= 50 ? 1900 : 2000;
  } else if (time.tag != kGeneralizedTime || c.size() != 15 || !Digits(c, at, 4, year)) {
    return false;
  }
  if (!Digits(c, at, 2, month) || !Digits(c, at, 2, day) || !Digits(c, at, 2, hour) ||
      !Digits(c, at, 2, minute) || !Digits(c, at, 2, second) || c[at] != 'Z') {
    return false;
  }
  constexpr std::array<unsigned, 12> kDays = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

// SubjectPublicKeyInfo ::= SEQUENCE { AlgorithmIdentifier, BIT STRING }; for
// rsaEncryption the bits hold SEQUENCE { modulus INTEGER, exponent INTEGER }.
bool TakePublicKey(Bytes& in, CertificateView& view) {
  Element info, algorithm, key;
  Bytes oid;
  if (!Take(in, kSequence, info)) return false;
  Bytes rest = info.content;
  if (!TakeAlgorithm(rest, algorithm, oid) || !Take(rest, kBitString, key) || !rest.empty()) {
    return false;
  }
  const Bytes bits = key.content;
  if (bits.empty() || bits[0] > 7 || (bits.size() == 1 && bits[0] != 0)) return false;
  view.publicKeyInfo = info.whole;
  if (!std::ranges::equal(oid, kRsaEncryption)) return true;

  Bytes inner = bits.subspan(1);
  Element rsaKey, modulus, exponent;
  if (bits[0] != 0 || !Take(inner, kSequence, rsaKey) || !inner.empty()) return false;
  Bytes fields = rsaKey.content;
  if (!Take(fields, kInteger, modulus) || !Take(fields, kInteger, exponent) || !fields.empty() ||
      !PositiveInteger(modulus.content) || !PositiveInteger(exponent.content)) {
    return false;
  }
  view.modulus = WithoutLeadingZeros(modulus.content);
  view.exponent = WithoutLeadingZeros(exponent.content);
  return true;
}

bool ReadToBeSigned(Bytes in, Bytes outerAlgorithm, CertificateView& view) {
  // An explicit v1 is not DER, but some old roots carry one: it is let pass.
  unsigned version = 0;
  if (Next(in, kVersion)) {
    Element tagged, number;
    if (!Take(in, tagged)) return false;
    Bytes inner = tagged.content;
    if (!Take(inner, kInteger, number) || !inner.empty() || number.content.size() != 1 ||
        number.content[0] > 2) {
      return false;
    }
    version = number.content[0];
  }
  Element serial, algorithm, validity;
  Bytes oid;
  if (!Take(in, kInteger, serial) || !MinimalInteger(serial.content)) return false;
  view.serial = serial.content;
  // Both naming the same algorithm is what keeps the outer one from being
  // swapped unsigned.
  if (!TakeAlgorithm(in, algorithm, oid) || !std::ranges::equal(algorithm.whole, outerAlgorithm)) {
    return false;
  }
  if (!TakeName(in, view.issuer) || !Take(in, kSequence, validity)) return false;
  Bytes times = validity.content;
  if (!TakeTime(times, view.notBefore) || !TakeTime(times, view.notAfter) || !times.empty()) {
    return false;
  }
  if (!TakeName(in, view.subject) || !TakePublicKey(in, view)) return false;
  // The unique identifiers came with v2, the extensions with v3.
  for (const uint8_t tag : {kIssuerUniqueId, kSubjectUniqueId}) {
    Element id;
    if (Next(in, tag) && (version < 1 || !Take(in, id))) return false;
  }
  if (Next(in, kExtensions)) {
    Element tagged, list;
    if (version < 2 || !Take(in, tagged)) return false;
    Bytes inner = tagged.content;
    if (!Take(inner, kSequence, list) || !inner.empty() || list.content.empty()) return false;
    for (Bytes items = list.content; !items.empty();) {
      Element extension;
      if (!Take(items, kSequence, extension)) return false;
    }
  }
  return in.empty();
}

// A dotted OID ("2.5.4.3") as its DER content bytes.
struct OidBytes {
  std::array<uint8_t, 64> bytes{};
  size_t size = 0;
  Bytes view() const { return Bytes(bytes).first(size); }
};

bool EncodeOid(std::string_view text, OidBytes& oid) {
  uint64_t first = 0;
  size_t pos = 0;
  for (size_t index = 0;; ++index) {
    const size_t start = pos;
    uint64_t arc = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
      if (arc > (UINT64_MAX >> 8) / 10) return false;
      arc = arc * 10 + static_cast<uint64_t>(text[pos] - '0');
    }
    if (pos == start || (text[start] == '0' && pos - start > 1)) return false;
    if (index == 0) {
      if (arc > 2) return false;
      first = arc;
    } else {
      // The first two arcs share one sub-identifier.
      if (index == 1 && first < 2 && arc >= 40) return false;
      if (index == 1) arc += 40 * first;
      std::array<uint8_t, 10> groups;
      size_t n = 0;
      do {
        groups[n++] = arc & 0x7F;
        arc >>= 7;
      } while (arc != 0);
      if (oid.size + n > oid.bytes.size()) return false;
      while (n-- > 0) oid.bytes[oid.size++] = static_cast<uint8_t>(groups[n] | (n ? 0x80 : 0));
    }
    if (pos == text.size()) return index >= 1;
    if (text[pos++] != '.') return false;
  }
}

void Append(std::string& text, char32_t cp) {
  std::array<char, 4> bytes;
  text.append(bytes.data(), EncodeUtf8(cp, bytes));
}

bool IsScalarValue(char32_t cp) { return cp < 0x110000 && (cp < 0xD800 || cp > 0xDFFF); }

bool ToUtf8(const Element& value, std::string& text) {
  const Bytes c = value.content;
  text.clear();
  switch (value.tag) {
    case kUtf8String: {
      const std::string_view utf8(reinterpret_cast<const char*>(c.data()), c.size());
      for (size_t pos = 0; pos < utf8.size();) Append(text, NextCodePoint(utf8, pos));
      return true;
    }
    case kNumericString:
    case kPrintableString:
    case kIa5String:
    case kVisibleString:
      for (const uint8_t b : c) Append(text, b < 0x80 ? b : kReplacementCharacter);
      return true;
    case kTeletexString:
      for (const uint8_t b : c) Append(text, b);
      return true;
    case kBmpString: {
      std::u16string units;
      for (size_t i = 0; i + 1 < c.size(); i += 2)
        units.push_back(static_cast<char16_t>(c[i] << 8 | c[i + 1]));
      text.resize(units.size() * kMaxUtf8BytesPerUtf16Unit);
      text.resize(Utf16ToUtf8(units, text));
      if (c.size() % 2 != 0) Append(text, kReplacementCharacter);
      return true;
    }
    case kUniversalString:
      for (size_t i = 0; i + 3 < c.size(); i += 4) {
        const char32_t cp = static_cast<char32_t>(c[i]) << 24 |
                            static_cast<char32_t>(c[i + 1]) << 16 |
                            static_cast<char32_t>(c[i + 2]) << 8 | c[i + 3];
        Append(text, IsScalarValue(cp) ? cp : kReplacementCharacter);
      }
      if (c.size() % 4 != 0) Append(text, kReplacementCharacter);
      return true;
    default:
      return false;
  }
}

// DigestInfo ::= SEQUENCE { SEQUENCE { OID, NULL }, OCTET STRING digest },
// up to the digest itself.
constexpr std::array<uint8_t, 15> kSha1DigestInfo = {
    0x30, 0x21,                                            // SEQUENCE
    0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A,  //   SEQUENCE { OID sha1 1.3.14.3.2.26
    0x05, 0x00,                                            //              NULL }
    0x04, 0x14};                                           //   OCTET STRING (20 bytes)

// The SHA-2 ones: OID 2.16.840.1.101.3.4.2.hash (1 sha256, 2 sha384, 3 sha512).
constexpr std::array<uint8_t, 19> Sha2DigestInfo(uint8_t hash, uint8_t digestSize) {
  return {0x30, static_cast<uint8_t>(0x11 + digestSize),  // SEQUENCE
          0x30, 0x0D,
          0x06, 0x09,
          0x60, 0x86,
          0x48,  //   SEQUENCE { OID
          0x01, 0x65,
          0x03, 0x04,
          0x02, hash,         //              ...
          0x05, 0x00,         //              NULL }
          0x04, digestSize};  //   OCTET STRING
}

// The DigestInfo of the to-be-signed bytes under the signature algorithm
// (1.2.840.113549.1.1.x), in info; its size, or 0 for another algorithm.
size_t DigestInfoOf(const CertificateView& cert, std::array<uint8_t, 19 + 64>& info) {
  const Bytes oid = cert.signatureAlgorithm;
  if (oid.size() != kRsaEncryption.size() ||
      !std::equal(oid.begin(), oid.end() - 1, kRsaEncryption.begin())) {
    return 0;
  }
  const auto put = [&info](Bytes prefix, Bytes digest) {
    std::ranges::copy(prefix, info.begin());
    std::ranges::copy(digest, info.begin() + static_cast<std::ptrdiff_t>(prefix.size()));
    return prefix.size() + digest.size();
  };
  switch (oid.back()) {
    case 0x05:
      return put(kSha1DigestInfo, Sha1(cert.toBeSigned));
    case 0x0B:
      return put(Sha2DigestInfo(0x01, 32), Sha256(cert.toBeSigned));
    case 0x0C:
      return put(Sha2DigestInfo(0x02, 48), Sha384(cert.toBeSigned));
    case 0x0D:
      return put(Sha2DigestInfo(0x03, 64), Sha512(cert.toBeSigned));
    default:
      return 0;
  }
}

}  // namespace

bool ReadCertificate(std::span<const uint8_t> der, CertificateView& view) {
  view = {};
  Element certificate, tbs, algorithm, signature;
  Bytes oid;
  if (!Take(der, kSequence, certificate) || !der.empty()) return false;
  Bytes parts = certificate.content;
  if (!Take(parts, kSequence, tbs) || !TakeAlgorithm(parts, algorithm, oid) ||
      !Take(parts, kBitString, signature) || !parts.empty()) {
    return false;
  }
  // Certificate signatures are whole bytes.
  if (signature.content.empty() || signature.content[0] != 0) return false;
  view.der = certificate.whole;
  view.toBeSigned = tbs.whole;
  view.signatureAlgorithm = oid;
  view.signature = signature.content.subspan(1);
  return ReadToBeSigned(tbs.content, algorithm.whole, view);
}

bool NameAttributeText(std::span<const uint8_t> name, std::string_view oid, std::string& text) {
  OidBytes type;
  Element value;
  bool found;
  return EncodeOid(oid, type) && WalkName(name, type.view(), value, found) && found &&
         ToUtf8(value, text);
}

std::string FormatUtcTime(int64_t secondsSince1970) {
  int64_t days = secondsSince1970 / 86400, rest = secondsSince1970 % 86400;
  if (rest < 0) rest += 86400, --days;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, year, month, day);
  std::array<char, 48> text;
  const int n =
      std::snprintf(text.data(), text.size(), "%04lld-%02u-%02u %02u:%02u:%02u UTC",
                    static_cast<long long>(year), month, day, static_cast<unsigned>(rest / 3600),
                    static_cast<unsigned>(rest / 60 % 60), static_cast<unsigned>(rest % 60));
  return std::string(text.data(), static_cast<size_t>(std::max(n, 0)));
}

bool SignatureVerifies(const CertificateView& cert, std::span<const uint8_t> modulus,
                       std::span<const uint8_t> exponent) {
  std::array<uint8_t, 19 + 64> info;
  const size_t infoSize = DigestInfoOf(cert, info);
  modulus = WithoutLeadingZeros(modulus);
  const size_t k = modulus.size();
  const size_t bits = k == 0 ? 0 : 8 * k - static_cast<size_t>(std::countl_zero(modulus[0]));
  if (infoSize == 0 || bits < 1024 || bits > 4096 || cert.signature.size() != k) return false;

  std::array<uint8_t, kRsaMaxModulusBytes> block;
  const std::span<uint8_t> em = std::span(block).first(k);
  if (!RsaPublicOperation(cert.signature, modulus, WithoutLeadingZeros(exponent), em)) {
    return false;
  }
  // EM = 00 01 FF..FF 00 DigestInfo, compared whole: there is one right block.
  std::array<uint8_t, kRsaMaxModulusBytes> expected{};
  expected[1] = 0x01;
  std::fill(expected.begin() + 2, expected.begin() + static_cast<std::ptrdiff_t>(k - infoSize - 1),
            0xFF);
  std::copy_n(info.begin(), infoSize, expected.begin() + static_cast<std::ptrdiff_t>(k - infoSize));
  uint8_t difference = 0;
  for (size_t i = 0; i < k; ++i) difference |= em[i] ^ expected[i];
  return difference == 0;
}

}  // namespace zvcert
