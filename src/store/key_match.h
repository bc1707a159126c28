// Whether a certificate carries the public half of a private-key blob, and
// the name of a new key container: the pure parts of an import.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zvcert {

// Compares the modulus in a certificate's public key (the DER RSAPublicKey,
// modulus most significant first from byte 7 on) with the modulus of a
// PRIVATEKEYBLOB (least significant first from byte 20 on), over the blob's
// bit length / 8 bytes. Neither is read past its end: a key or blob too short
// for that length does not match.
bool ModulusMatches(std::span<const uint8_t> certificatePublicKey,
                    std::span<const uint8_t> privateKeyBlob);

// "{" GUID "}" in upper case, NUL-terminated, from the platform's GUID text.
using ContainerName = std::array<char, 80>;
ContainerName ContainerNameFromGuid(std::string_view guidText);

}  // namespace zvcert
