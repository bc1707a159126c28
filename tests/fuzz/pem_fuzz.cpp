// PEM certificate reading under random text. The first byte picks the input:
//  even: the rest is the PEM text as it is;
//  odd:  the rest describes a PEM file (markers, line width, line ends,
//        indentation, body size, one damaged character) that is laid out
//        here, so that long bodies near the 8195-character limit come up
//        often without the fuzzer having to grow inputs that large.
// ExtractPemBody and DecodePemCertificate get work areas of their own on the
// heap and a text in a buffer of exactly its size, so AddressSanitizer sees
// any access outside them. Their results must agree with the reference below,
// written independently from the same rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/pem.h"

namespace {

using zvcert::DecodePemCertificate;
using zvcert::DerArea;
using zvcert::ExtractPemBody;
using zvcert::kPemWorkAreaSize;
using zvcert::PemBodyArea;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kMaxBodyCharacters = kPemWorkAreaSize - 1;  // and the NUL

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "pem_fuzz: %s\n", why);
  std::abort();
}

// The harness's own loops stay out of the coverage feedback: they run over
// every character and would only slow the search down.
#define ZVCERT_HARNESS __attribute__((no_sanitize("coverage")))

// --- Reference -----------------------------------------------------------

ZVCERT_HARNESS std::optional<std::string> ReferenceBody(std::string_view text) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  const size_t marker = text.find("BEGIN CERTIFICATE");
  if (marker == std::string_view::npos) return std::nullopt;
  const size_t lineEnd = text.find('\n', marker);
  if (lineEnd == std::string_view::npos) return std::nullopt;
  const size_t start = lineEnd + 1;
  const size_t footer = text.find("END CERTIFICATE", start);
  if (footer == std::string_view::npos) return std::nullopt;
  // The body runs to the last LF before the footer, which must lie inside it.
  size_t stop = footer;
  while (stop > start && text[stop - 1] != '\n') --stop;
  if (stop == start) return std::nullopt;
  --stop;  // the LF itself is not part of the body

  std::string body;
  for (size_t i = start; i < stop; ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n' && c != '\t' && c != ' ') body.push_back(c);
  }
  if (body.size() > kMaxBodyCharacters) return std::nullopt;
  return body;
}

ZVCERT_HARNESS int Sextet(char c) {
  const char* at = c == '\0' ? nullptr : std::strchr(kAlphabet, c);
  return at == nullptr ? -1 : static_cast<int>(at - kAlphabet);
}

// Groups of four; "xx==" gives one byte and "xxx=" two, wherever the group
// stands; any other "=" or a character outside the alphabet fails.
ZVCERT_HARNESS std::optional<std::vector<uint8_t>> ReferenceDecode(const std::string& body) {
  if (body.size() % 4 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  for (size_t g = 0; g < body.size(); g += 4) {
    int digits = 4;
    if (body[g + 3] == '=') digits = body[g + 2] == '=' ? 2 : 3;
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) {
      int v = 0;
      if (i < digits) {
        v = Sextet(body[g + i]);
        if (v < 0) return std::nullopt;
      }
      bits = bits << 6 | static_cast<uint32_t>(v);
    }
    out.push_back(static_cast<uint8_t>(bits >> 16));
    if (digits >= 3) out.push_back(static_cast<uint8_t>(bits >> 8));
    if (digits == 4) out.push_back(static_cast<uint8_t>(bits));
  }
  return out;
}

// --- Synthesised PEM files ----------------------------------------------

ZVCERT_HARNESS std::string Base64(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t bits = static_cast<uint32_t>(bytes[i]) << 16;
    if (n > 1) bits |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) bits |= bytes[i + 2];
    text.push_back(kAlphabet[bits >> 18 & 63]);
    text.push_back(kAlphabet[bits >> 12 & 63]);
    text.push_back(n > 1 ? kAlphabet[bits >> 6 & 63] : '=');
    text.push_back(n > 2 ? kAlphabet[bits & 63] : '=');
  }
  return text;
}

ZVCERT_HARNESS std::string Synthesise(FuzzedDataProvider& in) {
  static const char* const kHeaders[] = {
      "-----BEGIN CERTIFICATE-----", "-----BEGIN CERTIFICATE REQUEST-----", "BEGIN CERTIFICATE",
      "-----BEGIN CERT-----", "junk\n-----BEGIN CERTIFICATE-----"};
  static const char* const kFooters[] = {"-----END CERTIFICATE-----", "END CERTIFICATE",
                                         "-----END CERT-----", ""};
  static const char* const kLineEnds[] = {"\n", "\r\n", "\r", "\n\n"};
  static const char* const kIndents[] = {"", " ", "\t", " \t "};

  const uint8_t shape = in.ConsumeIntegral<uint8_t>();
  const std::string header = kHeaders[shape % 5 == 4 ? in.ConsumeIntegralInRange(0, 4) : 0];
  const std::string footer = kFooters[shape / 5 % 8 >= 4 ? in.ConsumeIntegralInRange(0, 3) : 0];
  const std::string eol = kLineEnds[in.ConsumeIntegralInRange(0, 3)];
  const std::string indent = kIndents[in.ConsumeIntegralInRange(0, 3)];
  const size_t width = in.ConsumeBool() ? 64 : in.ConsumeIntegralInRange<size_t>(1, 200);

  // Often a DER size whose Base64 text lies near the area's limit.
  size_t derSize = 0;
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      derSize = in.ConsumeIntegralInRange<size_t>(0, 64);
      break;
    case 1:
      derSize = in.ConsumeIntegralInRange<size_t>(0, 1500);
      break;
    case 2:
      derSize = in.ConsumeIntegralInRange<size_t>(0, 6300);
      break;
    default:
      derSize = 6141 + in.ConsumeIntegralInRange<size_t>(0, 9);
      break;
  }
  uint32_t state = in.ConsumeIntegral<uint32_t>() | 1;
  std::vector<uint8_t> der(derSize);
  for (uint8_t& b : der) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    b = static_cast<uint8_t>(state);
  }
  std::string body = Base64(der);
  // Sometimes extra characters that the decoder has to refuse, or a damaged one.
  if (in.ConsumeIntegralInRange(0, 7) == 0) {
    body.append(in.ConsumeIntegralInRange<size_t>(1, 3), 'A');
  }
  if (!body.empty() && in.ConsumeIntegralInRange(0, 5) == 0) {
    body[in.ConsumeIntegralInRange<size_t>(0, body.size() - 1)] =
        static_cast<char>(in.ConsumeIntegral<uint8_t>());
  }

  std::string text = in.ConsumeRandomLengthString(16);
  text.reserve(text.size() + body.size() * 4 + 256);
  text.append(header).append(eol);
  for (size_t at = 0; at < body.size(); at += width) {
    text.append(indent).append(body, at, width).append(eol);
  }
  text.append(footer).append(eol).append(in.ConsumeRemainingBytesAsString());
  return text;
}

// --- The checks -----------------------------------------------------------

void Check(std::string_view text) {
  const std::optional<std::string> body = ReferenceBody(text);

  const auto area = std::make_unique<PemBodyArea>();
  const std::optional<size_t> kept = ExtractPemBody(text, *area);
  if (kept.has_value() != body.has_value()) Fail("body found or not unlike the reference");
  if (kept) {
    if (*kept != body->size() || *kept > kMaxBodyCharacters) Fail("body length");
    if (std::memcmp(area->data(), body->data(), *kept) != 0 || (*area)[*kept] != '\0') {
      Fail("body text");
    }
  }

  std::optional<std::vector<uint8_t>> expected;
  if (body) expected = ReferenceDecode(*body);
  const auto der = std::make_unique<DerArea>();
  const std::optional<size_t> length = DecodePemCertificate(text, *der);
  if (length.has_value() != expected.has_value()) Fail("decoded or not unlike the reference");
  if (length) {
    if (*length > kPemWorkAreaSize || *length != expected->size()) Fail("DER length");
    if (*length > 0 && std::memcmp(der->data(), expected->data(), *length) != 0) Fail("DER bytes");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    Check(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    return 0;
  }
  FuzzedDataProvider in(data + 1, size - 1);
  const std::string text = Synthesise(in);
  // Exactly as long as the text, so that a read beyond it is caught.
  const std::unique_ptr<char[]> exact(new char[text.size()]);
  std::memcpy(exact.get(), text.data(), text.size());
  Check(std::string_view(exact.get(), text.size()));
  return 0;
}
