#include "token/token_objects.h"

#include <array>

namespace zvcert {

TokenSession::~TokenSession() {
  if (loggedIn_) functions_->C_Logout(handle_);
  functions_->C_CloseSession(handle_);
}

CK_RV FindObjects(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session,
                  std::span<const CK_ATTRIBUTE> match, std::vector<CK_OBJECT_HANDLE>& found) {
  found.clear();
  CK_RV rv =
      functions->C_FindObjectsInit(session, const_cast<CK_ATTRIBUTE*>(match.data()), match.size());
  if (rv != CKR_OK) return rv;
  // Ends the search whatever happens, so that the session takes the next one.
  struct SearchEnd {
    CK_FUNCTION_LIST* functions;
    CK_SESSION_HANDLE session;
    ~SearchEnd() { functions->C_FindObjectsFinal(session); }
  } end{functions, session};
  std::array<CK_OBJECT_HANDLE, 32> batch;
  for (CK_ULONG count = batch.size(); count == batch.size();) {
    rv = functions->C_FindObjects(session, batch.data(), batch.size(), &count);
    if (rv != CKR_OK) return rv;
    found.insert(found.end(), batch.begin(), batch.begin() + static_cast<ptrdiff_t>(count));
  }
  return CKR_OK;
}

CK_RV ReadAttribute(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                    CK_ATTRIBUTE_TYPE type, std::vector<uint8_t>& value) {
  CK_ATTRIBUTE attribute{type, nullptr, 0};
  CK_RV rv = functions->C_GetAttributeValue(session, object, &attribute, 1);
  if (rv != CKR_OK) return rv;
  if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) return CKR_ATTRIBUTE_TYPE_INVALID;
  value.resize(attribute.ulValueLen);
  attribute.pValue = value.data();
  rv = functions->C_GetAttributeValue(session, object, &attribute, 1);
  value.resize(rv == CKR_OK ? attribute.ulValueLen : 0);
  return rv;
}

std::span<const uint8_t> WithoutLeadingZeros(std::span<const uint8_t> integer) {
  while (integer.size() > 1 && integer.front() == 0) integer = integer.subspan(1);
  return integer;
}

CK_MECHANISM_TYPE SignatureMechanism(SignatureHash hash) {
  switch (hash) {
    case SignatureHash::Sha256:
      return CKM_SHA256_RSA_PKCS;
    case SignatureHash::Sha384:
      return CKM_SHA384_RSA_PKCS;
    case SignatureHash::Sha512:
      return CKM_SHA512_RSA_PKCS;
    case SignatureHash::Sha1:
      break;
  }
  return CKM_SHA1_RSA_PKCS;
}

CK_RV SignOnce(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
               std::span<const uint8_t> data, std::vector<uint8_t>& signature) {
  CK_MECHANISM mechanism{SignatureMechanism(kSignatureHash), nullptr, 0};
  CK_RV rv = functions->C_SignInit(session, &mechanism, key);
  if (rv != CKR_OK) return rv;
  // Some modules refuse a null pointer even for no data.
  static constexpr uint8_t kNothing = 0;
  CK_BYTE* bytes = const_cast<uint8_t*>(data.empty() ? &kNothing : data.data());
  // The length first: a call that fails for a short buffer would leave the
  // operation active, and the session unable to sign again.
  CK_ULONG length = 0;
  rv = functions->C_Sign(session, bytes, data.size(), nullptr, &length);
  if (rv != CKR_OK) return rv;
  signature.resize(length);
  rv = functions->C_Sign(session, bytes, data.size(), signature.data(), &length);
  signature.resize(rv == CKR_OK ? length : 0);
  return rv;
}

}  // namespace zvcert
