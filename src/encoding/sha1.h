// SHA-1 of a byte string, only to check signatures of certificates that
// older authorities still sign with it; nothing here makes a SHA-1 signature.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zvcert {

using Sha1Digest = std::array<uint8_t, 20>;
Sha1Digest Sha1(std::span<const uint8_t> data);

}  // namespace zvcert
