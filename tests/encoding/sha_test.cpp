#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoding/sha1.h"
#include "encoding/sha256.h"
#include "encoding/sha512.h"
#include "support/hex.h"

namespace zvcert {
namespace {

using Hash = std::vector<uint8_t> (*)(std::span<const uint8_t>);
template <auto F>
std::vector<uint8_t> As(std::span<const uint8_t> data) {
  const auto d = F(data);
  return {d.begin(), d.end()};
}

const std::string kTwoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kTwoWideBlocks =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
    "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

// FIPS 180-2's examples, and the lengths around each padding's block edge.
TEST(Sha, KnownDigests) {
  const struct {
    Hash hash;
    std::string message;
    const char* digest;
  } cases[] = {
      {As<Sha1>, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {As<Sha1>, kTwoBlocks, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {As<Sha1>, std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {As<Sha1>, std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {As<Sha1>, std::string(1000, 'a'), "291e9a6c66994949b57ba5e650361e98fc36b1ba"},
      {As<Sha256>, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {As<Sha256>, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {As<Sha256>, kTwoBlocks, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {As<Sha256>, std::string(55, 'a'),
       "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {As<Sha256>, std::string(56, 'a'),
       "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {As<Sha256>, std::string(64, 'a'),
       "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {As<Sha256>, std::string(1000, 'a'),
       "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
      {As<Sha384>, "abc",
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed"
       "8086072ba1e7cc2358baeca134c825a7"},
      {As<Sha384>, kTwoWideBlocks,
       "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712"
       "fcc7c71a557e2db966c3e9fa91746039"},
      {As<Sha512>, "",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
       "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
      {As<Sha512>, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
      {As<Sha512>, kTwoWideBlocks,
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
       "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
      {As<Sha512>, std::string(111, 'a'),
       "fa9121c7b32b9e01733d034cfc78cbf67f926c7ed83e82200ef8681819692176"
       "0b4beff48404df811b953828274461673c68d04e297b0eb7b2b4d60fc6b566a2"},
      {As<Sha512>, std::string(128, 'a'),
       "b73d1929aa615934e61a871596b3f3b33359f42b8175602e89f7e06e5f658a24"
       "3667807ed300314b95cacdd579f3e33abdfbe351909519a846d465c59582f321"},
      {As<Sha512>, std::string(1000, 'a'),
       "67ba5535a46e3f86dbfbed8cbbaf0125c76ed549ff8b0b9e03e0c88cf90fa634"
       "fa7b12b47d77b694de488ace8d9a65967dc96df599727d3292a8d9d447709c97"},
  };
  for (const auto& c : cases) {
    std::string hex = testing::ToHex(
        c.hash({reinterpret_cast<const uint8_t*>(c.message.data()), c.message.size()}));
    std::erase(hex, ' ');
    for (char& ch : hex) ch = static_cast<char>(std::tolower(ch));
    EXPECT_EQ(hex, c.digest) << c.message.size() << " bytes";
  }
}

}  // namespace
}  // namespace zvcert
