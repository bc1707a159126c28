// GetSubjectAttribute under random keys and subject texts. The input is a
// key (one of the ten the plug-in asks for, a variant of one, or random
// bytes) followed by the subject text. Key and text lie in heap buffers of
// exactly their size. The 32-byte result must be a NUL-terminated string of
// at most 31 bytes, zero-padded, never ending in a cut UTF-8 sequence, and
// equal to what the plain reference below finds.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "script/subject_attribute.h"

namespace {

using zvcert::AttributeValue;
using zvcert::GetSubjectAttribute;

constexpr const char* kKeys[] = {"C", "ST", "L", "O", "OU", "CN", "E", "SN", "G", "T"};
// GetSubjectAttribute searches for at most the first 30 bytes of a key (the
// plug-in's own keys have one or two), so longer keys are not generated.
constexpr size_t kMaxKeyBytes = 30;

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "subject_attribute_fuzz: %s\n", why);
  std::abort();
}

bool InRange(uint8_t b, uint8_t low, uint8_t high) { return b >= low && b <= high; }

// Whether bytes (1 to 3 of them) begin a well-formed UTF-8 sequence that
// needs more bytes than these, following the table of well-formed sequences.
bool IsCutSequence(std::string_view bytes) {
  const auto b0 = static_cast<uint8_t>(bytes[0]);
  size_t needed = 0;
  uint8_t secondLow = 0x80, secondHigh = 0xBF;
  if (InRange(b0, 0xC2, 0xDF)) {
    needed = 2;
  } else if (b0 == 0xE0) {
    needed = 3, secondLow = 0xA0;
  } else if (InRange(b0, 0xE1, 0xEC) || InRange(b0, 0xEE, 0xEF)) {
    needed = 3;
  } else if (b0 == 0xED) {
    needed = 3, secondHigh = 0x9F;
  } else if (b0 == 0xF0) {
    needed = 4, secondLow = 0x90;
  } else if (InRange(b0, 0xF1, 0xF3)) {
    needed = 4;
  } else if (b0 == 0xF4) {
    needed = 4, secondHigh = 0x8F;
  } else {
    return false;
  }
  if (bytes.size() >= needed) return false;
  for (size_t i = 1; i < bytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    const bool ok = i == 1 ? InRange(b, secondLow, secondHigh) : InRange(b, 0x80, 0xBF);
    if (!ok) return false;
  }
  return true;
}

bool EndsInCutSequence(std::string_view text) {
  for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    if (IsCutSequence(text.substr(text.size() - back))) return true;
  }
  return false;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Reference(std::string_view key, std::string_view text) {
  text = text.substr(0, text.find('\0'));
  const std::string pattern = std::string(key) + "=";
  size_t at = 0;
  for (;; ++at) {
    at = text.find(pattern, at);
    if (at == std::string_view::npos) return "XX";
    if (at == 0 || !IsAsciiLetter(text[at - 1])) break;
  }
  std::string value;
  for (size_t i = at + pattern.size(); i < text.size(); ++i) {
    if (text[i] == ',' || text[i] == '/') break;
    value.push_back(text[i]);
  }
  if (value.size() > 31) value.resize(31);
  // Dropping a cut sequence can bare another (a lone lead byte before it).
  for (bool cut = true; cut;) {
    cut = false;
    for (size_t back = 1; back <= 3 && back <= value.size() && !cut; ++back) {
      if (IsCutSequence(std::string_view(value).substr(value.size() - back))) {
        value.resize(value.size() - back);
        cut = true;
      }
    }
  }
  return value.empty() ? "XX" : value;
}

std::string Key(FuzzedDataProvider& in) {
  const uint8_t choice = in.ConsumeIntegral<uint8_t>();
  std::string key = kKeys[choice % 10];
  switch (choice / 10 % 4) {
    case 0:
    case 1:
      break;  // as the plug-in asks
    case 2:
      key[0] = static_cast<char>(key[0] ^ 0x20);
      break;  // the other case
    default:
      key = in.ConsumeRandomLengthString(kMaxKeyBytes);
      break;
  }
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string key = Key(in);
  const std::string text = in.ConsumeRemainingBytesAsString();

  const std::unique_ptr<char[]> keyArea(new char[key.size()]);
  const std::unique_ptr<char[]> textArea(new char[text.size()]);
  std::memcpy(keyArea.get(), key.data(), key.size());
  std::memcpy(textArea.get(), text.data(), text.size());
  const auto value = std::make_unique<AttributeValue>();
  value->fill('\xA5');  // every byte must be written
  GetSubjectAttribute(std::string_view(keyArea.get(), key.size()),
                      std::string_view(textArea.get(), text.size()), *value);

  const size_t length = strnlen(value->data(), value->size());
  if (length == 0 || length > 31) Fail("no string of 1 to 31 bytes");
  for (size_t i = length; i < value->size(); ++i) {
    if ((*value)[i] != '\0') Fail("not zero-padded");
  }
  const std::string_view got(value->data(), length);
  if (EndsInCutSequence(got)) Fail("ends in a cut UTF-8 sequence");
  if (got != Reference(key, text)) Fail("differs from the reference");
  return 0;
}
