// A new key pair and the signed PKCS #10 request for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "request/subject_name.h"
#include "store/build_profile.h"
#include "store/pending_keys.h"

namespace zvcert {

// The largest request fits.
inline constexpr size_t kRequestAreaSize = 2048;
// The temporary key container; it exists only during one call, and one call
// at a time in the user's session holds it.
inline constexpr char kRequestContainer[] = "dastro";

// Each failure names the step that failed.
enum class RequestResult : int32_t {
  Ok = 0,
  ContainerNotCreated = -1,
  RequestBodyNotBuilt = -2,   // the subject does not fit its 512 bytes
  PublicKeyNotExported = -3,  // also when no key could be generated
  PrivateKeyNotExported = -4,
  HashNotMade = -5,
  NotSigned = -6,
  RequestTooLong = -7,
  NotRecorded = -8,  // the pending request could not be kept
  NoRoom = -9,       // as many requests as are kept wait, none old enough to make room
};

struct RequestOutput {
  std::span<uint8_t, kRequestAreaSize> request;
  int32_t& requestLength;
  std::span<uint8_t, kKeyBlobAreaSize> privateKey;  // the new key's PRIVATEKEYBLOB
  int32_t& privateKeyLength;
};

// The key a request is signed with, wherever it lives: first the
// CertificationRequestInfo to sign, then the room for exactly the signature,
// written most significant byte first.
class RequestSigner {
 public:
  virtual bool Take(std::span<const uint8_t> info) = 0;
  virtual bool Sign(std::span<uint8_t> signature) = 0;

 protected:
  ~RequestSigner() = default;
};

// Writes the request for the public key (a PUBLICKEYBLOB) into the area,
// signed by signer with the build's hash; the length is set only on Ok.
// Fails as RequestBodyNotBuilt, HashNotMade (Take failed), RequestTooLong or
// NotSigned.
RequestResult WriteSignedRequest(std::span<uint8_t, kRequestAreaSize> area, int32_t& requestLength,
                                 std::span<const uint8_t> publicKeyBlob, RequestSigner& signer,
                                 const SubjectValues& subject, std::string_view unstructuredName,
                                 std::string_view challengePassword);

// Generates an exportable RSA signature key of the build's size in the
// container "dastro", builds and signs (the build's hash, PKCS #1 v1.5) the
// request, and deletes the container again on every path. The outputs count
// only on Ok.
RequestResult GenerateSignedRequest(const RequestOutput& output, const SubjectValues& subject,
                                    std::string_view unstructuredName,
                                    std::string_view challengePassword);

// The same request for a key that stays in the user's key store: a new
// container "{GUID}" whose key is not exportable, the request recorded as
// pending (abandoned ones pruned first). Only the public key is exported. On
// failure no container of the call is left.
RequestResult GeneratePendingRequest(std::span<uint8_t, kRequestAreaSize> request,
                                     int32_t& requestLength, const SubjectValues& subject,
                                     std::string_view unstructuredName,
                                     std::string_view challengePassword);

// The request as the pending-key policy makes it; where the key waits in the
// store, no private key is exported and privateKeyLength is left alone.
inline RequestResult GenerateRequest(KeysHeldByPage, const RequestOutput& output,
                                     const SubjectValues& subject,
                                     std::string_view unstructuredName,
                                     std::string_view challengePassword) {
  return GenerateSignedRequest(output, subject, unstructuredName, challengePassword);
}
inline RequestResult GenerateRequest(KeysWaitInStore, const RequestOutput& output,
                                     const SubjectValues& subject,
                                     std::string_view unstructuredName,
                                     std::string_view challengePassword) {
  return GeneratePendingRequest(output.request, output.requestLength, subject, unstructuredName,
                                challengePassword);
}

}  // namespace zvcert
