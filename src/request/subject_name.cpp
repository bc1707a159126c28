#include "request/subject_name.h"

#include <algorithm>

#include "encoding/utf8.h"
#include "request/der_writer.h"

namespace zvcert {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kBmpString = 0x1E;
constexpr uint8_t kIa5String = 0x16;

struct DirectoryAttribute {
  SubjectKey key;
  std::array<uint8_t, 3> oid;  // 55 04 xx: id-at-*
};

// Output order: C, ST, L, O, OU, CN, SN, G, T; the e-mail comes last.
constexpr std::array<DirectoryAttribute, 9> kDirectoryAttributes = {{
    {kC, {0x55, 0x04, 0x06}},   // countryName
    {kST, {0x55, 0x04, 0x08}},  // stateOrProvinceName
    {kL, {0x55, 0x04, 0x07}},   // localityName
    {kO, {0x55, 0x04, 0x0A}},   // organizationName
    {kOU, {0x55, 0x04, 0x0B}},  // organizationalUnitName
    {kCN, {0x55, 0x04, 0x03}},  // commonName
    {kSN, {0x55, 0x04, 0x04}},  // surname
    {kG, {0x55, 0x04, 0x2A}},   // givenName
    {kT, {0x55, 0x04, 0x0C}},   // title
}};
// 1.2.840.113549.1.9.1, PKCS #9 emailAddress
constexpr std::array<uint8_t, 9> kEmailAddressOid = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                     0x0D, 0x01, 0x09, 0x01};

// The largest single attribute: 11 + 2 * 48 bytes, or 17 + 96 for the e-mail.
constexpr size_t kAttributeAreaSize = 113;
using AttributeArea = std::array<uint8_t, kAttributeAreaSize>;

// SET { SEQUENCE { OID, string } } with the string's content as given.
size_t EncodeAttribute(std::span<const uint8_t> oid, uint8_t stringTag,
                       std::span<const uint8_t> value, AttributeArea& area) {
  std::array<uint8_t, kAttributeAreaSize> pair;
  DerWriter inner(pair);
  inner.Element(kOid, oid);
  inner.Element(stringTag, value);
  std::array<uint8_t, kAttributeAreaSize> sequence;
  DerWriter middle(sequence);
  middle.Element(kSequence, inner.written());
  DerWriter outer(area);
  outer.Element(kSet, middle.written());
  return outer.ok() ? outer.size() : 0;
}

// UTF-16 big-endian of the value, at most 48 units.
size_t BmpBytes(std::string_view value, std::array<uint8_t, 2 * kMaxNameUnits>& bytes) {
  size_t units = 0;
  for (size_t pos = 0; pos < value.size() && units < kMaxNameUnits; ++units) {
    char32_t cp = NextCodePoint(value, pos);
    if (cp > 0xFFFF) cp = kReplacementCharacter;  // BMPString holds one unit per character
    bytes[2 * units] = static_cast<uint8_t>(cp >> 8);
    bytes[2 * units + 1] = static_cast<uint8_t>(cp);
  }
  return 2 * units;
}

}  // namespace

int32_t EncodeSubjectName(std::span<uint8_t, kNameAreaSize> out, const SubjectValues& values) {
  std::array<AttributeArea, kSubjectKeyCount> attributes;
  std::array<size_t, kSubjectKeyCount> lengths{};
  size_t content = 0;
  for (size_t i = 0; i < kDirectoryAttributes.size(); ++i) {
    std::array<uint8_t, 2 * kMaxNameUnits> bytes;
    const size_t n = BmpBytes(values[kDirectoryAttributes[i].key], bytes);
    lengths[i] = EncodeAttribute(kDirectoryAttributes[i].oid, kBmpString, std::span(bytes).first(n),
                                 attributes[i]);
    content += lengths[i];
  }
  const std::string_view email = values[kE].substr(0, kMaxEmailBytes);
  lengths[9] = EncodeAttribute(
      kEmailAddressOid, kIa5String,
      std::span(reinterpret_cast<const uint8_t*>(email.data()), email.size()), attributes[9]);
  content += lengths[9];

  std::array<uint8_t, kNameAreaSize> name;
  DerWriter writer(name);
  writer.Byte(kSequence);
  writer.Length(content);
  for (size_t i = 0; i < attributes.size(); ++i) {
    writer.Bytes(std::span(attributes[i]).first(lengths[i]));
  }
  if (!writer.ok()) return 0;
  std::copy(name.begin(), name.begin() + writer.size(), out.begin());
  return static_cast<int32_t>(writer.size());
}

}  // namespace zvcert
