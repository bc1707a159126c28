// Reading one PEM certificate: the Base64 body between the "BEGIN
// CERTIFICATE" and "END CERTIFICATE" lines, decoded to DER. Pure; the
// platform call that makes a certificate context lives in pem_certificate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zvcert {

// Work areas of one read: the body without whitespace (at most 8195
// characters and a NUL) and the DER bytes it decodes to.
inline constexpr size_t kPemWorkAreaSize = 8196;
using PemBodyArea = std::array<char, kPemWorkAreaSize>;
using DerArea = std::array<uint8_t, kPemWorkAreaSize>;

// Copies the body (from after the begin line's LF up to the LF before the end
// marker) into area without CR, LF, tab and blank, NUL-terminated. Returns
// the number of characters kept, or nothing when a marker or line break is
// missing or the body does not fit.
std::optional<size_t> ExtractPemBody(std::string_view pem, PemBodyArea& area);

// The body decoded to DER in der; the number of bytes, or nothing.
std::optional<size_t> DecodePemCertificate(std::string_view pem, DerArea& der);

}  // namespace zvcert
