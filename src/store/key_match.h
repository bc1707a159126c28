// Whether a certificate carries the public half of a private-key blob, and
// the name of a new key container: the pure parts of an import.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zvcert {

// Compares the modulus in a certificate's public key (the DER RSAPublicKey,
// read by its structure: any length form, with or without the sign byte)
// with the modulus of a PRIVATEKEYBLOB (least significant first from byte 20
// on, bit length / 8 bytes). A modulus of another length, a key that is no
// RSAPublicKey or a blob too short for its length does not match; neither is
// read past its end.
bool ModulusMatches(std::span<const uint8_t> certificatePublicKey,
                    std::span<const uint8_t> privateKeyBlob);

// "{" GUID "}" in upper case, NUL-terminated, from the platform's GUID text.
using ContainerName = std::array<char, 80>;
ContainerName ContainerNameFromGuid(std::string_view guidText);

}  // namespace zvcert
