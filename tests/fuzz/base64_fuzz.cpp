// Base64 under random input. The first byte picks the check:
//  even: the rest is data; it must encode into exactly 4*ceil(n/3)
//        characters and decode back to itself;
//  odd:  the next two bytes are a capacity, the rest is text for the
//        decoder, whose output area is exactly that capacity (AddressSanitizer
//        catches any write past it); its result must agree with the reference
//        decoder below, written independently from the same rules. With the
//        first byte's second bit set, the text is mapped into the alphabet
//        (FE to "*", FF to "="), so that long runs reach the block path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/base64.h"

namespace {

using zvcert::Base64DecodeText;
using zvcert::Base64EncodeBuffer;

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Reference {
  int status = 0;
  std::vector<uint8_t> bytes;  // written before success or failure
  bool lengthTouched = true;
};

Reference ReferenceDecode(std::string_view text, size_t capacity) {
  Reference r;
  if (text.size() % 4 != 0) {
    r.status = -1;
    r.lengthTouched = false;
    return r;
  }
  for (size_t at = 0; at < text.size(); at += 4) {
    const std::string_view g = text.substr(at, 4);
    size_t yields = 3;
    if (g[3] == '=') yields = g[2] == '=' ? 1 : 2;
    if (r.bytes.size() + yields > capacity) {
      r.status = -1;
      return r;
    }
    uint32_t bits = 0;
    for (size_t i = 0; i < 4; ++i) {
      const bool padding = i >= yields + 1;  // the '=' characters that were counted for
      size_t value = 0;
      if (!padding) {
        value = kAlphabet.find(g[i]);
        if (value == std::string_view::npos) {
          r.status = -1;
          return r;
        }
      }
      bits = (bits << 6) | static_cast<uint32_t>(value);
    }
    for (size_t i = 0; i < yields; ++i)
      r.bytes.push_back(static_cast<uint8_t>(bits >> (16 - 8 * i)));
  }
  return r;
}

void CheckRoundTrip(const uint8_t* data, size_t size) {
  const size_t needed = 4 * ((size + 2) / 3);
  std::vector<char> text(needed == 0 ? 1 : needed);
  int32_t textLength = -1;
  if (Base64EncodeBuffer(data, static_cast<int32_t>(size), text.data(),
                         static_cast<int32_t>(needed), &textLength) != 0 ||
      static_cast<size_t>(textLength) != needed) {
    std::abort();
  }
  for (size_t i = 0; i < needed; ++i) {
    const bool pad = text[i] == '=' && i + 2 >= needed;
    if (!pad && kAlphabet.find(text[i]) == std::string_view::npos) std::abort();
  }
  std::vector<uint8_t> back(size == 0 ? 1 : size);
  int32_t backLength = -1;
  if (Base64DecodeText(text.data(), textLength, back.data(), static_cast<int32_t>(size),
                       &backLength) != 0 ||
      static_cast<size_t>(backLength) != size || std::memcmp(back.data(), data, size) != 0) {
    std::abort();
  }
}

void CheckDecoder(const uint8_t* data, size_t size, bool mapped) {
  if (size < 2) return;
  const size_t capacity = (data[0] | (data[1] << 8)) % 4096;
  std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  for (char& c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (mapped) c = b == 0xFF ? '=' : b == 0xFE ? '*' : kAlphabet[b % 64];
  }
  // Exactly capacity bytes, so a write past it is a heap overflow.
  uint8_t* area = static_cast<uint8_t*>(std::malloc(capacity == 0 ? 1 : capacity));
  int32_t length = -12345;
  const int status = Base64DecodeText(text.data(), static_cast<int32_t>(text.size()), area,
                                      static_cast<int32_t>(capacity), &length);
  const Reference expected = ReferenceDecode(text, capacity);
  if (status != expected.status) std::abort();
  if (!expected.lengthTouched) {
    if (length != -12345) std::abort();
  } else {
    if (static_cast<size_t>(length) != expected.bytes.size()) std::abort();
    if (length > 0 && std::memcmp(area, expected.bytes.data(), length) != 0) std::abort();
  }
  std::free(area);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    CheckRoundTrip(data + 1, size - 1);
  } else {
    CheckDecoder(data + 1, size - 1, (data[0] & 2) != 0);
  }
  return 0;
}
