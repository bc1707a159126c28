// The RSA public operation (s^e mod n) on big-endian byte strings, for
// checking signatures without any platform. Not constant-time: every input
// here is public.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zvcert {

inline constexpr size_t kRsaMaxModulusBytes = 512;  // 4096 bits

// Writes input^exponent mod modulus into out, big-endian, padded to
// modulus.size() bytes. The modulus has no leading zero byte, is odd and at
// most kRsaMaxModulusBytes long; input is as long and below it; the exponent
// is non-zero and no longer than the modulus; out is as long as the modulus.
// False, out untouched, when any of that does not hold.
bool RsaPublicOperation(std::span<const uint8_t> input, std::span<const uint8_t> modulus,
                        std::span<const uint8_t> exponent, std::span<uint8_t> out);

}  // namespace zvcert
