#include "encoding/pem.h"

#include "encoding/base64.h"

namespace zvcert {

std::optional<size_t> ExtractPemBody(std::string_view pem, PemBodyArea& area) {
  // The text ends at its first NUL, as the C string it stands for.
  pem = pem.substr(0, pem.find('\0'));
  const size_t begin = pem.find("BEGIN CERTIFICATE");
  if (begin == std::string_view::npos) return std::nullopt;
  const size_t beginLineEnd = pem.find('\n', begin);
  if (beginLineEnd == std::string_view::npos) return std::nullopt;
  const size_t bodyStart = beginLineEnd + 1;

  const size_t end = pem.find("END CERTIFICATE", bodyStart);
  if (end == std::string_view::npos || end <= bodyStart) return std::nullopt;
  // The body ends at the last LF before the end marker's line.
  const size_t bodyEnd = pem.rfind('\n', end);
  if (bodyEnd == std::string_view::npos || bodyEnd < bodyStart) return std::nullopt;

  size_t kept = 0;
  for (const char c : pem.substr(bodyStart, bodyEnd - bodyStart)) {
    if (c == '\r' || c == '\n' || c == '\t' || c == ' ') continue;
    if (kept == area.size() - 1) return std::nullopt;
    area[kept++] = c;
  }
  area[kept] = '\0';
  return kept;
}

std::optional<size_t> DecodePemCertificate(std::string_view pem, DerArea& der) {
  PemBodyArea body;
  const std::optional<size_t> length = ExtractPemBody(pem, body);
  if (!length) return std::nullopt;
  int32_t produced = 0;
  if (Base64DecodeText(body.data(), static_cast<int32_t>(*length), der.data(),
                       static_cast<int32_t>(der.size()), &produced) != 0) {
    return std::nullopt;
  }
  return static_cast<size_t>(produced);
}

size_t ArmorCertificateRequest(std::string_view base64, std::span<char> out) {
  size_t n = kRequestHeader.copy(out.data(), kRequestHeader.size());
  for (size_t j = 0; j < base64.size(); ++j) {
    if (j % 64 == 0) out[n++] = '\n';
    out[n++] = base64[j];
  }
  out[n++] = '\n';
  n += kRequestFooter.copy(out.data() + n, kRequestFooter.size());
  out[n++] = '\n';
  return n;
}

}  // namespace zvcert
