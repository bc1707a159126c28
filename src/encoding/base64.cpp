#include "encoding/base64.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

namespace zvcert {
namespace {

constexpr std::array<char, 64> base64Alphabet = {
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
    'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f',
    'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
    'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+', '/'};

constexpr uint8_t kNotBase64 = 127;
constexpr char kPad = '=';

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
  std::array<uint8_t, 256> table{};
  for (auto& entry : table) entry = kNotBase64;
  for (std::size_t i = 0; i < base64Alphabet.size(); ++i) {
    table[static_cast<uint8_t>(base64Alphabet[i])] = static_cast<uint8_t>(i);
  }
  return table;
}

constexpr std::array<uint8_t, 256> base64DecodeTable = MakeDecodeTable();
static_assert(base64DecodeTable['A'] == 0 && base64DecodeTable['/'] == 63);
static_assert(base64DecodeTable['='] == kNotBase64 && base64DecodeTable[0x80] == kNotBase64);

// For the character at each place of a group, its six bits already standing
// in the group's three bytes, the first byte lowest: a group decodes to the
// OR of four lookups. Any other byte, "=" included, sets the top bit, which
// no alphabet character reaches.
constexpr uint32_t kStranger = 0x80000000u;

constexpr std::array<uint32_t, 256> MakePlaceTable(int place) {
  std::array<uint32_t, 256> table{};
  for (std::size_t c = 0; c < table.size(); ++c) {
    const uint32_t value = base64DecodeTable[c];
    if (value == kNotBase64) {
      table[c] = kStranger;
      continue;
    }
    const uint32_t bits = value << (18 - 6 * place);
    table[c] = ((bits >> 16) & 0xFF) | (bits & 0xFF00) | ((bits & 0xFF) << 16);
  }
  return table;
}

static_assert((MakePlaceTable(0)['T'] | MakePlaceTable(1)['W'] | MakePlaceTable(2)['F'] |
               MakePlaceTable(3)['u']) == 0x6E614D);  // "TWFu": 'M' 'a' 'n'
static_assert(MakePlaceTable(3)['='] == kStranger);

// The four tables (4 KiB) are filled when first used rather than stored in
// the module's file, which stays as small as before them.
struct PlaceTables {
  PlaceTables() {
    for (int place = 0; place < 4; ++place) table[place] = MakePlaceTable(place);
  }
  std::array<std::array<uint32_t, 256>, 4> table;
};

const PlaceTables& Tables() {
  static const PlaceTables tables;  // thread-safe initialisation
  return tables;
}

// The group's bytes, first lowest, or a value with kStranger set.
uint32_t Group(const PlaceTables& t, const uint8_t* g) {
  return t.table[0][g[0]] | t.table[1][g[1]] | t.table[2][g[2]] | t.table[3][g[3]];
}

// The bytes of v, lowest first.
void Store32(uint8_t* out, uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &v, sizeof v);
  } else {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
  }
}

// Groups decoded in one step of the fast path: 16 characters, 12 bytes.
// Wider steps measured no faster, and four groups keep to the registers of
// a 32-bit machine.
constexpr int32_t kBlockText = 16;
constexpr int32_t kBlockBytes = 12;

// Decodes one block of four plain groups into out, or, when any character
// of it is a stranger or "=", writes nothing and returns false.
bool DecodeBlock(const PlaceTables& t, const uint8_t* text, uint8_t* out) {
  const uint32_t x0 = Group(t, text), x1 = Group(t, text + 4);
  const uint32_t x2 = Group(t, text + 8), x3 = Group(t, text + 12);
  if (((x0 | x1 | x2 | x3) & kStranger) != 0) return false;
  Store32(out, x0 | x1 << 24);
  Store32(out + 4, x1 >> 8 | x2 << 16);
  Store32(out + 8, x2 >> 16 | x3 << 8);
  return true;
}

// One group the careful way: padding is judged per group, "xx==" yields one
// byte, "xxx=" two. False, with nothing written, when the group holds a
// stranger or a misplaced "=", or its bytes do not fit.
bool DecodeGroup(const uint8_t* g, uint8_t* out, int32_t room, int32_t& written) {
  const int yields = g[3] != kPad ? 3 : g[2] == kPad ? 1 : 2;
  if (room < yields) return false;
  const uint8_t d0 = base64DecodeTable[g[0]];
  const uint8_t d1 = base64DecodeTable[g[1]];
  const uint8_t d2 = yields >= 2 ? base64DecodeTable[g[2]] : 0;
  const uint8_t d3 = yields == 3 ? base64DecodeTable[g[3]] : 0;
  // Alphabet values stay below 64; the marker of any other byte (a pad
  // where a character belongs included) does not.
  if (((d0 | d1 | d2 | d3) & 0x40) != 0) return false;
  const uint32_t bits = (uint32_t{d0} << 18) | (uint32_t{d1} << 12) | (uint32_t{d2} << 6) | d3;
  out[0] = static_cast<uint8_t>(bits >> 16);
  if (yields >= 2) out[1] = static_cast<uint8_t>(bits >> 8);
  if (yields == 3) out[2] = static_cast<uint8_t>(bits);
  written += yields;
  return true;
}

}  // namespace

int Base64EncodeBuffer(const uint8_t* data, int32_t length, char* out, int32_t capacity,
                       int32_t* outLength) {
  if (out == nullptr || length < 0) return -1;
  const int64_t groups = (static_cast<int64_t>(length) + 2) / 3;
  const int64_t needed = 4 * groups;
  if (capacity < needed) return -1;
  *outLength = static_cast<int32_t>(needed);

  // Whole groups of three bytes, then the last one or two, padded.
  const int64_t whole = length / 3;
  for (int64_t i = 0; i < whole; ++i) {
    const uint8_t* in = data + 3 * i;
    char* text = out + 4 * i;
    const uint32_t bits = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    text[0] = base64Alphabet[bits >> 18];
    text[1] = base64Alphabet[(bits >> 12) & 63];
    text[2] = base64Alphabet[(bits >> 6) & 63];
    text[3] = base64Alphabet[bits & 63];
  }
  const int64_t left = length - 3 * whole;
  if (left > 0) {
    const uint8_t* in = data + 3 * whole;
    char* text = out + 4 * whole;
    const uint8_t b0 = in[0];
    const uint8_t b1 = left > 1 ? in[1] : 0;
    text[0] = base64Alphabet[b0 >> 2];
    text[1] = base64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
    text[2] = left > 1 ? base64Alphabet[(b1 & 15) << 2] : kPad;
    text[3] = kPad;
  }
  return 0;
}

int Base64DecodeText(const char* text, int32_t length, uint8_t* out, int32_t capacity,
                     int32_t* outLength) {
  if (out == nullptr || length % 4 != 0) return -1;
  const auto* in = reinterpret_cast<const uint8_t*>(text);
  const PlaceTables& tables = Tables();
  int32_t at = 0;
  int32_t written = 0;
  int status = 0;
  while (at < length) {
    // Whole blocks of plain groups straight through, as many as the text
    // and the room hold. The block that stops the run (it holds padding or
    // a stranger), a block that does not fit and the tail go group by
    // group, which finds the failing group and counts the bytes before it.
    const int32_t room = capacity - written;
    const int32_t byText = (length - at) / kBlockText;
    const int32_t byRoom = room > 0 ? room / kBlockBytes : 0;
    const int32_t blocks = byText < byRoom ? byText : byRoom;
    int32_t done = 0;
    while (done < blocks && DecodeBlock(tables, in + at, out + written)) {
      at += kBlockText;
      written += kBlockBytes;
      ++done;
    }
    const int32_t end = length - at >= kBlockText ? at + kBlockText : length;
    for (; at < end && status == 0; at += 4) {
      if (!DecodeGroup(in + at, out + written, capacity - written, written)) status = -1;
    }
    if (status != 0) break;
  }
  *outLength = written;
  return status;
}

}  // namespace zvcert
