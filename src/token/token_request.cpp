// A key pair made on the token and the request for it, signed there.
#include <array>

#include "encoding/sha256.h"
#include "token/token_store.h"

namespace zvcert {
namespace {

constexpr std::string_view kKeyLabel = "npzvcert request";
constexpr std::array<uint8_t, 3> kExponent65537 = {0x01, 0x00, 0x01};

// The PUBLICKEYBLOB the request's SubjectPublicKeyInfo is written from:
//   BLOBHEADER { PUBLICKEYBLOB, CUR_BLOB_VERSION, reserved,   06 02 00 00
//                CALG_RSA_SIGN }                              00 24 00 00
//   RSAPUBKEY  { magic "RSA1",                                52 53 41 31
//                bit length, public exponent }                (LE32) (LE32)
//   modulus, least significant byte first
constexpr std::array<uint8_t, 12> kPublicKeyBlobHeader = {0x06, 0x02, 0x00, 0x00, 0x00, 0x24,
                                                          0x00, 0x00, 0x52, 0x53, 0x41, 0x31};

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// Of a big-endian modulus and exponent; false for an exponent beyond 32 bits.
bool WritePublicKeyBlob(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent,
                        std::vector<uint8_t>& blob) {
  if (modulus.empty() || exponent.size() > 4) return false;
  uint32_t exponentValue = 0;
  for (const uint8_t byte : exponent) exponentValue = (exponentValue << 8) | byte;
  blob.assign(kPublicKeyBlobHeader.begin(), kPublicKeyBlobHeader.end());
  AppendLe32(blob, static_cast<uint32_t>(modulus.size() * 8));
  AppendLe32(blob, exponentValue);
  blob.insert(blob.end(), modulus.rbegin(), modulus.rend());
  return true;
}

// Signs the request's body with the new private key, on the token.
class TokenSigner final : public RequestSigner {
 public:
  TokenSigner(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key)
      : functions_(functions), session_(session), key_(key) {}
  bool Take(std::span<const uint8_t> info) override {
    info_.assign(info.begin(), info.end());
    return true;
  }
  bool Sign(std::span<uint8_t> signature) override {
    std::vector<uint8_t> made;
    result_ = SignOnce(functions_, session_, key_, info_, made);
    if (result_ != CKR_OK || made.size() != signature.size()) return false;
    std::copy(made.begin(), made.end(), signature.begin());
    return true;
  }
  CK_RV result() const { return result_; }

 private:
  CK_FUNCTION_LIST* functions_;
  CK_SESSION_HANDLE session_;
  CK_OBJECT_HANDLE key_;
  std::vector<uint8_t> info_;
  CK_RV result_ = CKR_OK;
};

}  // namespace

RequestResult TokenStore::MakeRequest(const RequestOutput& output, const SubjectValues& subject,
                                      std::string_view unstructuredName,
                                      std::string_view challengePassword) {
  const Call call(*this);
  if (!Open() || !LoggedIn()) return RequestResult::ContainerNotCreated;

  const CK_ULONG bits = kKeyBits;
  const std::span<const uint8_t> label(reinterpret_cast<const uint8_t*>(kKeyLabel.data()),
                                       kKeyLabel.size());
  std::array publicTemplate = {Attribute(CKA_TOKEN, kTrue),
                               Attribute(CKA_PRIVATE, kFalse),
                               Attribute(CKA_VERIFY, kTrue),
                               Attribute(CKA_MODULUS_BITS, bits),
                               Attribute(CKA_PUBLIC_EXPONENT, kExponent65537),
                               Attribute(CKA_LABEL, label)};
  // The private half never leaves the token, not even wrapped.
  std::array privateTemplate = {Attribute(CKA_TOKEN, kTrue),     Attribute(CKA_PRIVATE, kTrue),
                                Attribute(CKA_SENSITIVE, kTrue), Attribute(CKA_EXTRACTABLE, kFalse),
                                Attribute(CKA_SIGN, kTrue),      Attribute(CKA_LABEL, label)};
  CK_MECHANISM generation{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  CK_OBJECT_HANDLE publicHandle = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateHandle = CK_INVALID_HANDLE;
  if (!Succeeded(functions_->C_GenerateKeyPair(
          session(), &generation, publicTemplate.data(), publicTemplate.size(),
          privateTemplate.data(), privateTemplate.size(), &publicHandle, &privateHandle))) {
    return RequestResult::PublicKeyNotExported;
  }
  // Both go again unless the request is made.
  MadeObject publicKey(functions_, session(), publicHandle);
  MadeObject privateKey(functions_, session(), privateHandle);

  std::vector<uint8_t> modulus;
  std::vector<uint8_t> exponent;
  std::vector<uint8_t> blob;
  if (!Succeeded(ReadAttribute(functions_, session(), publicHandle, CKA_MODULUS, modulus)) ||
      !Succeeded(
          ReadAttribute(functions_, session(), publicHandle, CKA_PUBLIC_EXPONENT, exponent)) ||
      !WritePublicKeyBlob(WithoutLeadingZeros(modulus), WithoutLeadingZeros(exponent), blob)) {
    return RequestResult::PublicKeyNotExported;
  }
  // The one link from the certificate to come to its key.
  const Sha256Digest id = Sha256(WithoutLeadingZeros(modulus));
  CK_ATTRIBUTE idAttribute = Attribute(CKA_ID, id);
  if (!Succeeded(functions_->C_SetAttributeValue(session(), publicHandle, &idAttribute, 1)) ||
      !Succeeded(functions_->C_SetAttributeValue(session(), privateHandle, &idAttribute, 1))) {
    return RequestResult::ContainerNotCreated;
  }

  TokenSigner signer(functions_, session(), privateHandle);
  const RequestResult made = WriteSignedRequest(output.request, output.requestLength, blob, signer,
                                                subject, unstructuredName, challengePassword);
  Succeeded(signer.result());
  if (made != RequestResult::Ok) return made;
  publicKey.release();
  privateKey.release();
  return RequestResult::Ok;
}

}  // namespace zvcert
