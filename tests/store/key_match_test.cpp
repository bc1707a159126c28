#include "store/key_match.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/hex.h"

namespace zvcert {
namespace {

using testing::Hex;

// A PRIVATEKEYBLOB head: BLOBHEADER, RSAPUBKEY ("RSA2", bits, 65537), then the
// modulus least significant first, then whatever follows (here: nothing).
std::vector<uint8_t> Blob(uint32_t bits, const std::vector<uint8_t>& modulusLsbFirst) {
  std::vector<uint8_t> blob = {0x07, 0x02, 0, 0, 0x00, 0x24, 0, 0, 'R', 'S', 'A', '2'};
  for (int i = 0; i < 4; ++i) blob.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  for (uint8_t b : {0x01, 0x00, 0x01, 0x00}) blob.push_back(b);
  blob.insert(blob.end(), modulusLsbFirst.begin(), modulusLsbFirst.end());
  return blob;
}

// An RSAPublicKey: SEQUENCE { INTEGER modulus, INTEGER 65537 }, with the
// lengths in the form given (81 nn or 82 hh ll) and the sign byte or not.
std::vector<uint8_t> Key(const std::vector<uint8_t>& modulusMsbFirst, bool signByte = true) {
  const auto header = [](uint8_t tag, size_t length) {
    std::vector<uint8_t> h = {tag};
    if (length > 0xFF)
      h.insert(h.end(), {0x82, uint8_t(length >> 8), uint8_t(length)});
    else if (length > 0x7F)
      h.insert(h.end(), {0x81, uint8_t(length)});
    else
      h.push_back(uint8_t(length));
    return h;
  };
  std::vector<uint8_t> integer = header(0x02, modulusMsbFirst.size() + (signByte ? 1 : 0));
  if (signByte) integer.push_back(0x00);
  integer.insert(integer.end(), modulusMsbFirst.begin(), modulusMsbFirst.end());
  integer.insert(integer.end(), {0x02, 0x03, 0x01, 0x00, 0x01});
  std::vector<uint8_t> key = header(0x30, integer.size());
  key.insert(key.end(), integer.begin(), integer.end());
  return key;
}

std::vector<uint8_t> Modulus(size_t bytes) {
  std::vector<uint8_t> modulus(bytes);
  for (size_t i = 0; i < modulus.size(); ++i) modulus[i] = static_cast<uint8_t>(i * 7 + 3);
  modulus[0] |= 0x80;
  return modulus;
}

std::vector<uint8_t> Reversed(const std::vector<uint8_t>& bytes) {
  return {bytes.rbegin(), bytes.rend()};
}

TEST(ModulusMatches, ComparesTheModulusInEachOwnByteOrder) {
  const std::vector<uint8_t> modulus = Modulus(128);
  const std::vector<uint8_t> reversed = Reversed(modulus);
  const std::vector<uint8_t> blob = Blob(1024, reversed);
  std::vector<uint8_t> other = modulus;
  other[127] ^= 1;
  const std::vector<uint8_t> key = Key(modulus);
  const std::vector<uint8_t> shortKey(key.begin(), key.begin() + 100);
  const std::vector<uint8_t> big = Modulus(256);

  struct Case {
    const char* what;
    std::vector<uint8_t> key, blob;
    bool matches;
  };
  const Case cases[] = {
      {"the same key", Key(modulus), blob, true},
      {"the same key written without its sign byte", Key(modulus, false), blob, true},
      {"a 2048-bit key, lengths 82 01 0A and 82 01 01", Key(big), Blob(2048, Reversed(big)), true},
      {"a 4096-bit key", Key(Modulus(512)), Blob(4096, Reversed(Modulus(512))), true},
      {"the least significant byte differs", Key(other), blob, false},
      {"the same bytes in the wrong order", Key(reversed), blob, false},
      {"a key cut inside its modulus", shortKey, blob, false},
      {"a 2048-bit key whose first half is the blob's modulus", Key(big),
       Blob(1024, Reversed(std::vector<uint8_t>(big.begin(), big.begin() + 128))), false},
      {"a 1024-bit key for a 2048-bit blob", Key(modulus), Blob(2048, Reversed(big)), false},
      {"a blob claiming more bits than it holds", Key(modulus), Blob(2048, reversed), false},
      {"a blob cut inside its header", Key(modulus),
       std::vector<uint8_t>(blob.begin(), blob.begin() + 15), false},
      {"a zero bit length is no key", Key(modulus), Blob(0, {}), false},
      {"an elliptic-curve point", Hex("04 01 02 03 04"), blob, false},
      {"a length beyond the key", Hex("30 82 7F FF 02 01 05"), blob, false},
  };
  for (const Case& c : cases) EXPECT_EQ(ModulusMatches(c.key, c.blob), c.matches) << c.what;
}

TEST(ContainerName, IsTheGuidInBracesAndUpperCase) {
  const ContainerName name = ContainerNameFromGuid("1b4e28ba-2fa1-11d2-883f-0016d3cca427");
  EXPECT_EQ(std::string(name.data()), "{1B4E28BA-2FA1-11D2-883F-0016D3CCA427}");
  EXPECT_EQ(std::string(name.data()).size(), 38u);
}

}  // namespace
}  // namespace zvcert
