// The subject of a request as a DER Name: ten RelativeDistinguishedNames in a
// fixed order, whatever the values are.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zvcert {

class DerWriter;

// The ten values in the order they are taken from the subject text (the
// e-mail value comes seventh here, but last in the Name).
enum SubjectKey : size_t { kC, kST, kL, kO, kOU, kCN, kE, kSN, kG, kT, kSubjectKeyCount };
using SubjectValues = std::array<std::string_view, kSubjectKeyCount>;

inline constexpr std::array<const char*, kSubjectKeyCount> kSubjectKeyNames = {
    "C", "ST", "L", "O", "OU", "CN", "E", "SN", "G", "T"};

inline constexpr size_t kNameAreaSize = 512;
// Directory-string values keep at most this many UTF-16 units, e-mail values
// this many bytes.
inline constexpr size_t kMaxNameUnits = 48;
inline constexpr size_t kMaxEmailBytes = 96;

// Writes the Name and returns its length, or 0 (writing nothing) when it
// would not fit 512 bytes. Values are UTF-8: directory strings become
// BMPString (invalid bytes and characters beyond the BMP become U+FFFD),
// the e-mail value is copied as it is into an IA5String.
int32_t EncodeSubjectName(std::span<uint8_t, kNameAreaSize> out, const SubjectValues& values);
// The same Name written at the writer's end, failing it beyond 512 bytes.
void WriteSubjectName(DerWriter& writer, const SubjectValues& values);

}  // namespace zvcert
