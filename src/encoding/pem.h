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

inline constexpr std::string_view kRequestHeader = "-----BEGIN CERTIFICATE REQUEST-----";
inline constexpr std::string_view kRequestFooter = "-----END CERTIFICATE REQUEST-----";

// The size of the PEM text ArmorCertificateRequest makes of b Base64
// characters: header, lines of 64, footer, line feeds, no NUL.
constexpr size_t ArmoredRequestSize(size_t b) {
  return kRequestHeader.size() + b + (b + 63) / 64 + 1 + kRequestFooter.size() + 1;
}

// Writes header, the Base64 text in lines of 64, footer and a final line
// feed (LF line ends) into out, which holds ArmoredRequestSize(base64.size())
// bytes at least. Returns the length.
size_t ArmorCertificateRequest(std::string_view base64, std::span<char> out);

}  // namespace zvcert
