// What the consent window is shown of a signature's data, a thumbprint and
// a serial, the same on every platform.
#include <string>

#include "encoding/base64.h"
#include "encoding/sha256.h"
#include "host/certificate_info.h"
#include "host/consent_text.h"
#include "store/serial.h"
#include "store/serial_text.h"

namespace zvhost {

using namespace zvcert;

// Lower-case hex of bytes, for digests.
std::string LowerHex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

void SetSerialTexts(std::span<const uint8_t> serial, CertificateInfo& info) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (size_t i = serial.size(); i-- > 0;) {
    info.serialHex += kDigits[serial[i] >> 4];
    info.serialHex += kDigits[serial[i] & 15];
  }
  const size_t significant = SignificantLength(serial);
  if (significant <= sizeof(SerialValue)) {
    SerialValue value{};
    for (size_t i = 0; i < significant; ++i) value[i] = serial[i];
    info.serial = Int64ToDecimal(value).data();
  }
}

std::optional<Sha256Digest> ThumbprintBytes(std::string_view thumbprint) {
  Sha256Digest bytes{};
  if (thumbprint.size() != 2 * bytes.size()) return std::nullopt;
  for (size_t i = 0; i < thumbprint.size(); ++i) {
    const char c = thumbprint[i];
    const int value = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (value < 0) return std::nullopt;
    bytes[i / 2] = static_cast<uint8_t>(bytes[i / 2] << 4 | value);
  }
  return bytes;
}

bool DecodeSignData(std::string_view base64, std::string& bytes) {
  bytes.clear();
  const uint64_t room = Base64DecodeRoom(base64.size());
  if (room > INT32_MAX) return false;
  bytes.resize(room);
  int32_t length = 0;
  if (Base64DecodeText(base64.data(), static_cast<int32_t>(base64.size()),
                       reinterpret_cast<uint8_t*>(bytes.data()), static_cast<int32_t>(room),
                       &length) != 0) {
    bytes.clear();
    return false;
  }
  bytes.resize(static_cast<size_t>(length));
  return true;
}

DataInfo DescribeSignData(std::string_view base64) {
  DataInfo info;
  std::string bytes;
  if (!DecodeSignData(base64, bytes)) return info;
  info.valid = true;
  info.size = bytes.size();
  info.sha256 = LowerHex(Sha256({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}));
  ShownText shown = ShowSignedText(bytes);
  info.printable = shown.isText;
  info.text = std::move(shown.text);
  info.escaped = shown.escaped;
  info.folded = shown.folded;
  info.unshown = shown.unshown;
  return info;
}

}  // namespace zvhost
