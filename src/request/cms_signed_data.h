// A CMS SignedData (RFC 5652) made from its parts, for hosts whose keys stay
// on a token: the builder never sees a key. The caller hashes the content,
// has the signed attributes signed (RSA PKCS #1 v1.5 with the same hash) and
// hands the signature back:
//
//   WriteCmsSignedAttributes(parts, toBeSigned);   // sign these bytes
//   FinishCmsSignedData(parts, signature, message);
//
// The message: version 1, the content as id-data (carried unless detached),
// the signer's certificate, one SignerInfo naming the signer by the
// certificate's issuer and serial, signed attributes contentType and
// messageDigest. No signingTime: the core has no clock a caller could not
// give it, and the same parts give the same bytes, so the second step
// rebuilds the attributes the first one gave out for signing.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "store/build_profile.h"

namespace zvcert {

enum class CmsBuildResult : int32_t {
  Ok = 0,
  CertificateNotParsed = -1,  // no TBSCertificate with a serialNumber and an issuer
  WrongDigestLength = -2,     // not the length of the hash's digest
  WrongSignatureLength = -3,  // empty, or longer than the largest key's
  TooLong = -4,               // an element beyond 65535 bytes (attached content near 64 KiB)
};

struct CmsSignedDataParts {
  std::span<const uint8_t> certificate;  // the signer's, DER
  std::span<const uint8_t> content;      // hashed by the caller; carried unless detached
  bool detached = false;
  SignatureHash hash = kSignatureHash;
  std::span<const uint8_t> contentDigest;  // the content's, with hash
};

// The DER SET OF signed attributes, which the signature covers. On failure
// toBeSigned is empty.
CmsBuildResult WriteCmsSignedAttributes(const CmsSignedDataParts& parts,
                                        std::vector<uint8_t>& toBeSigned);

// The DER ContentInfo { signedData } with the signature of those attributes.
// On failure out is empty.
CmsBuildResult FinishCmsSignedData(const CmsSignedDataParts& parts,
                                   std::span<const uint8_t> signature, std::vector<uint8_t>& out);

}  // namespace zvcert
