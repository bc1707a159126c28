// SHA-512 and SHA-384 (the same function with other starting values, cut
// short) of a byte string, for checking the signatures of authorities that
// sign with them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zvcert {

using Sha384Digest = std::array<uint8_t, 48>;
using Sha512Digest = std::array<uint8_t, 64>;
Sha384Digest Sha384(std::span<const uint8_t> data);
Sha512Digest Sha512(std::span<const uint8_t> data);

}  // namespace zvcert
