// SHA-256 of a byte string, for what the consent window shows of data to be
// signed: the host computes it from the bytes the plug-in will sign.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zvcert {

using Sha256Digest = std::array<uint8_t, 32>;
Sha256Digest Sha256(std::span<const uint8_t> data);

}  // namespace zvcert
