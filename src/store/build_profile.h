// What an authority chooses when it builds the plug-in: the size of the keys
// it generates, the hash of its requests and signatures, how long a serial
// number may be, how lookups know the authority and where a request's key
// waits. cmake/BuildProfile.cmake alone holds the profiles and defines every
// value below (a translation unit without them would disagree with the rest
// of the module). Pure: the portable core reads it too.
#pragma once

#include <cstddef>
#include <cstdint>

#if !defined(ZVCERT_KEY_BITS) || !defined(ZVCERT_SIGNATURE_HASH_BITS) ||     \
    !defined(ZVCERT_SERIAL_BYTES) || !defined(ZVCERT_AUTHORITY_SIGNATURE) || \
    !defined(ZVCERT_PENDING_IN_STORE) || !defined(ZVCERT_PENDING_DAYS) ||    \
    !defined(ZVCERT_PENDING_LIMIT)
#error "the build defines the profile: link the target with zvcert_options"
#endif

namespace zvcert {

enum class SignatureHash { Sha1, Sha256, Sha384, Sha512 };

inline constexpr uint32_t kKeyBits = ZVCERT_KEY_BITS;
inline constexpr uint32_t kMaxKeyBits = 4096;
inline constexpr size_t kSignatureBytes = kKeyBits / 8;  // PKCS #1: as long as the modulus
inline constexpr size_t kSerialBytes = ZVCERT_SERIAL_BYTES;

// Whether the plug-in's own lookups take a certificate for the authority's
// only when the root's key signed it, beside the issuer name they compare.
inline constexpr bool kAuthorityBySignature = ZVCERT_AUTHORITY_SIGNATURE != 0;

// Whether GetCSR keeps the new key in a key container of the user's, the
// request recorded in the "REQUEST" store so that any later page can import
// its certificate, rather than in the page's object. Abandoned requests are
// deleted after kPendingDays, and at most kPendingLimit are kept.
inline constexpr bool kPendingKeysInStore = ZVCERT_PENDING_IN_STORE != 0;
inline constexpr uint32_t kPendingDays = ZVCERT_PENDING_DAYS;
inline constexpr uint32_t kPendingLimit = ZVCERT_PENDING_LIMIT;

inline constexpr SignatureHash kSignatureHash =
    ZVCERT_SIGNATURE_HASH_BITS == 256   ? SignatureHash::Sha256
    : ZVCERT_SIGNATURE_HASH_BITS == 384 ? SignatureHash::Sha384
    : ZVCERT_SIGNATURE_HASH_BITS == 512 ? SignatureHash::Sha512
                                        : SignatureHash::Sha1;

// PRIVATEKEYBLOB: BLOBHEADER and RSAPUBKEY (20 bytes), modulus and private
// exponent (bits/8 each), two primes, two exponents and the coefficient
// (bits/16 each): 596 bytes for 1024 bits, 2324 for 4096.
constexpr size_t PrivateKeyBlobSize(uint32_t bits) { return 20 + 2 * (bits / 8) + 5 * (bits / 16); }

static_assert(kKeyBits == 1024 || kKeyBits == 2048 || kKeyBits == 3072 || kKeyBits == 4096,
              "ZVCERT_KEY_BITS is 1024, 2048, 3072 or 4096");
static_assert(ZVCERT_SIGNATURE_HASH_BITS == 1 || ZVCERT_SIGNATURE_HASH_BITS == 256 ||
                  ZVCERT_SIGNATURE_HASH_BITS == 384 || ZVCERT_SIGNATURE_HASH_BITS == 512,
              "ZVCERT_SIGNATURE_HASH is SHA1, SHA256, SHA384 or SHA512");
static_assert(kSerialBytes == 8 || kSerialBytes == 16 || kSerialBytes == 20,
              "ZVCERT_SERIAL_BYTES is 8, 16 or 20");

}  // namespace zvcert
