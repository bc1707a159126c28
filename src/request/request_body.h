// The to-be-signed body of a PKCS #10 request: version, subject Name, the new
// key's SubjectPublicKeyInfo and the challenge attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "request/der_writer.h"
#include "request/subject_name.h"
#include "store/build_profile.h"

namespace zvcert {

// Room for the SubjectPublicKeyInfo of the largest key (550 bytes at 4096 bits).
inline constexpr size_t kKeyInfoAreaSize = 600;
inline constexpr size_t kAttributesAreaSize = 256;

// SubjectPublicKeyInfo (rsaEncryption) of a platform PUBLICKEYBLOB, whose
// modulus comes least significant byte first. Returns its length (162 for a
// 1024-bit key with exponent 65537, 294 for 2048 bits), or 0 for a blob too
// short to hold what its header announces or a modulus beyond 4096 bits.
int32_t EncodePublicKeyInfo(std::span<const uint8_t> publicKeyBlob,
                            std::span<uint8_t, kKeyInfoAreaSize> out);

// [0] { unstructuredName, challengePassword } in DER order. A value of more
// than 48 bytes keeps its first 30. Values of PrintableString characters are
// written as PrintableString, others as UTF8String (invalid bytes as
// U+FFFD). Returns the length, or 0 when the block would exceed 256 bytes.
int32_t EncodeRequestAttributes(std::string_view unstructuredName,
                                std::string_view challengePassword,
                                std::span<uint8_t, kAttributesAreaSize> out);

// The CertificationRequestInfo, written from out[0]. Returns its length, or 0
// when a piece cannot be built (a Name beyond 512 bytes, a key the
// SubjectPublicKeyInfo cannot hold, attributes beyond 256 bytes) or the
// whole does not fit out: such a request is never to be signed.
int32_t BuildRequestInfo(std::span<uint8_t> out, std::span<const uint8_t> publicKeyBlob,
                         const SubjectValues& subject, std::string_view unstructuredName,
                         std::string_view challengePassword);
// The same, written at the writer's end and failing it instead.
void WriteRequestInfo(DerWriter& writer, std::span<const uint8_t> publicKeyBlob,
                      const SubjectValues& subject, std::string_view unstructuredName,
                      std::string_view challengePassword);

// The request's signatureAlgorithm (shaNWithRSAEncryption, NULL parameters)
// and the BIT STRING that holds a signature of signatureBytes, its lengths in
// the shortest form. Returns the zeroed room where the caller writes the
// signature before it closes the request, or nothing when it does not fit.
std::span<uint8_t> WriteSignatureFrame(DerWriter& writer, SignatureHash hash,
                                       size_t signatureBytes);

}  // namespace zvcert
