#include "request/subject_name.h"

#include <algorithm>

#include "encoding/utf8.h"
#include "request/der_writer.h"

namespace zvcert {
namespace {

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

// UTF-16 big-endian units of the value, at most 48.
void WriteBmpUnits(DerWriter& writer, std::string_view value) {
  for (size_t pos = 0, units = 0; pos < value.size() && units < kMaxNameUnits; ++units) {
    char32_t cp = NextCodePoint(value, pos);
    if (cp > 0xFFFF) cp = kReplacementCharacter;  // BMPString holds one unit per character
    writer.Byte(static_cast<uint8_t>(cp >> 8));
    writer.Byte(static_cast<uint8_t>(cp));
  }
}

// SET { SEQUENCE { OID, string } }
void WriteAttribute(DerWriter& writer, std::span<const uint8_t> oid, uint8_t stringTag,
                    std::string_view value) {
  DerElement set = writer.Open(kSet);
  DerElement pair = writer.Open(kSequence);
  writer.Element(kOid, oid);
  DerElement string = writer.Open(stringTag);
  if (stringTag == kBmpString) {
    WriteBmpUnits(writer, value);
  } else {
    writer.Bytes(std::span(reinterpret_cast<const uint8_t*>(value.data()), value.size()));
  }
}

}  // namespace

void WriteSubjectName(DerWriter& writer, const SubjectValues& values) {
  DerElement name = writer.Open(kSequence, kNameAreaSize);
  for (const DirectoryAttribute& attribute : kDirectoryAttributes) {
    WriteAttribute(writer, attribute.oid, kBmpString, values[attribute.key]);
  }
  WriteAttribute(writer, kEmailAddressOid, kIa5String, values[kE].substr(0, kMaxEmailBytes));
}

int32_t EncodeSubjectName(std::span<uint8_t, kNameAreaSize> out, const SubjectValues& values) {
  // Built aside, so that a Name that does not fit leaves out as it was.
  std::array<uint8_t, kNameAreaSize> name;
  DerWriter writer(name);
  WriteSubjectName(writer, values);
  if (writer.ok()) std::copy(name.begin(), name.begin() + writer.size(), out.begin());
  return writer.resultLength();
}

}  // namespace zvcert
