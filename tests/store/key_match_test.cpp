#include "store/key_match.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zvcert {
namespace {

// A PRIVATEKEYBLOB head: BLOBHEADER, RSAPUBKEY ("RSA2", bits, 65537), then the
// modulus least significant first, then whatever follows (here: nothing).
std::vector<uint8_t> Blob(uint32_t bits, const std::vector<uint8_t>& modulusLsbFirst) {
  std::vector<uint8_t> blob = {0x07, 0x02, 0, 0, 0x00, 0x24, 0, 0, 'R', 'S', 'A', '2'};
  for (int i = 0; i < 4; ++i) blob.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  for (uint8_t b : {0x01, 0x00, 0x01, 0x00}) blob.push_back(b);
  blob.insert(blob.end(), modulusLsbFirst.begin(), modulusLsbFirst.end());
  return blob;
}

// An RSAPublicKey whose modulus (most significant first) starts at byte 7.
std::vector<uint8_t> Key(const std::vector<uint8_t>& modulusMsbFirst) {
  std::vector<uint8_t> key = {0x30, 0x81, 0x89, 0x02, 0x81, 0x81, 0x00};
  key.insert(key.end(), modulusMsbFirst.begin(), modulusMsbFirst.end());
  for (uint8_t b : {0x02, 0x03, 0x01, 0x00, 0x01}) key.push_back(b);
  return key;
}

TEST(ModulusMatches, ComparesTheModulusInEachOwnByteOrder) {
  std::vector<uint8_t> modulus(128);
  for (size_t i = 0; i < modulus.size(); ++i) modulus[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::vector<uint8_t> reversed(modulus.rbegin(), modulus.rend());
  const std::vector<uint8_t> blob = Blob(1024, reversed);
  std::vector<uint8_t> other = modulus;
  other[127] ^= 1;
  const std::vector<uint8_t> key = Key(modulus);
  const std::vector<uint8_t> shortKey(key.begin(), key.begin() + 100);

  struct Case {
    const char* what;
    std::vector<uint8_t> key, blob;
    bool matches;
  };
  const Case cases[] = {
      {"the same key", Key(modulus), blob, true},
      {"the least significant byte differs", Key(other), blob, false},
      {"the same bytes in the wrong order", Key(reversed), blob, false},
      {"a key too short for the blob's length", shortKey, blob, false},
      {"a blob claiming more bits than it holds", Key(modulus), Blob(2048, reversed), false},
      {"a blob cut inside its header", Key(modulus),
       std::vector<uint8_t>(blob.begin(), blob.begin() + 15), false},
      {"a zero bit length compares nothing", Key(modulus), Blob(0, {}), true},
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
