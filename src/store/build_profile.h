// What an authority chooses when it builds the plug-in, and what follows from
// it. cmake/BuildProfile.cmake alone holds the profiles and makes the options'
// header from them: each option one constant of its own name (kKeyBits,
// kSignatureHash, kSerialBytes, kAuthorityCheck, kPendingKeys, kPendingDays,
// kPendingLimit). Pure: the portable core reads it too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "build_profile_options.h"

namespace zvcert {

inline constexpr uint32_t kMaxKeyBits = 4096;
inline constexpr size_t kSignatureBytes = kKeyBits / 8;  // PKCS #1: as long as the modulus

// PRIVATEKEYBLOB: BLOBHEADER and RSAPUBKEY (20 bytes), modulus and private
// exponent (bits/8 each), two primes, two exponents and the coefficient
// (bits/16 each): 596 bytes for 1024 bits, 2324 for 4096.
constexpr size_t PrivateKeyBlobSize(uint32_t bits) { return 20 + 2 * (bits / 8) + 5 * (bits / 16); }
// Holds the PRIVATEKEYBLOB of the largest key (2324 bytes at 4096 bits).
inline constexpr size_t kKeyBlobAreaSize = PrivateKeyBlobSize(kMaxKeyBits);

}  // namespace zvcert
