// Serial numbers between decimal text and eight little-endian bytes. The
// first byte picks the check:
//  0: the rest is text for DecimalToInt64, compared with a reference that
//     sums the leading digits' place values modulo 2^64;
//  1: the rest, turned into digits, is a decimal number without leading
//     zeros; when it lies in 1..2^63-1 it must survive
//     Int64ToDecimal(DecimalToInt64(x)) unchanged;
//  2: the next eight bytes are a serial for Int64ToDecimal, compared with
//     the C library's formatting and read back by DecimalToInt64.
#include <array>
#include <bit>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "store/serial_text.h"

namespace {

using zvcert::DecimalText;
using zvcert::DecimalToInt64;
using zvcert::Int64ToDecimal;
using zvcert::SerialValue;

constexpr std::string_view kLargest = "9223372036854775807";  // 2^63 - 1

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "serial_text_fuzz: %s\n", why);
  std::abort();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// From the last leading digit backwards: digit times its power of ten, all
// modulo 2^64 (unsigned arithmetic wraps exactly so).
SerialValue ReferenceValue(std::string_view text) {
  size_t digits = 0;
  while (digits < text.size() && IsDigit(text[digits])) ++digits;
  uint64_t sum = 0, place = 1;
  for (size_t i = digits; i-- > 0;) {
    sum += static_cast<uint64_t>(text[i] - '0') * place;
    place *= 10;
  }
  SerialValue bytes;
  for (uint8_t& b : bytes) {
    b = static_cast<uint8_t>(sum & 0xFF);
    sum >>= 8;
  }
  return bytes;
}

uint64_t Read(const SerialValue& bytes) {
  uint64_t value = 0;
  static_assert(std::endian::native == std::endian::little,
                "the serial's byte order is the host's");
  std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

// Exactly sized text, so that reading past it is caught.
SerialValue Parse(std::string_view text) {
  const std::unique_ptr<char[]> area(new char[text.size()]);
  std::memcpy(area.get(), text.data(), text.size());
  return DecimalToInt64(std::string_view(area.get(), text.size()));
}

std::string_view TextOf(const DecimalText& text) {
  const size_t length = strnlen(text.data(), text.size());
  if (length == text.size()) Fail("decimal text without a terminator");
  return std::string_view(text.data(), length);
}

// The C library's decimal, or nothing for 0 and values with the top bit set.
std::string ExpectedText(uint64_t value) {
  if (value == 0 || value >> 63 != 0) return "";
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, value);
  return text;
}

void CheckParse(std::string_view text) {
  if (Parse(text) != ReferenceValue(text)) Fail("DecimalToInt64 differs from the reference");
}

void CheckRoundTrip(std::string_view raw) {
  std::string number;
  for (const char c : raw) number.push_back(static_cast<char>('0' + static_cast<uint8_t>(c) % 10));
  const size_t firstNonZero = number.find_first_not_of('0');
  if (firstNonZero == std::string::npos) return;  // 0 is not a serial
  number.erase(0, firstNonZero);
  const bool inRange =
      number.size() < kLargest.size() || (number.size() == kLargest.size() && number <= kLargest);
  const DecimalText back = Int64ToDecimal(Parse(number));
  if (inRange) {
    if (TextOf(back) != number) Fail("no round trip");
  } else if (TextOf(back) != ExpectedText(Read(ReferenceValue(number)))) {
    // Larger numbers wrap; the text must still be that of the wrapped value.
    Fail("wrapped value formatted wrongly");
  }
}

void CheckFormat(const uint8_t* data) {
  SerialValue bytes;
  std::memcpy(bytes.data(), data, bytes.size());
  const uint64_t value = Read(bytes);
  const DecimalText formatted = Int64ToDecimal(bytes);
  const std::string_view text = TextOf(formatted);
  if (text != ExpectedText(value)) Fail("Int64ToDecimal differs from the C library");
  if (!text.empty() && Parse(text) != bytes) Fail("formatted value does not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 3) {
    case 0:
      CheckParse(rest);
      break;
    case 1:
      CheckRoundTrip(rest);
      break;
    default:
      if (rest.size() >= 8) CheckFormat(data + 1);
      break;
  }
  return 0;
}
