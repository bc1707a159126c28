// What a store holds on a token, each owned by one object that gives it
// back through the store's function list: the session (with its login), the
// objects a call makes until the call succeeds, a search in progress.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "store/build_profile.h"

namespace zvcert {

inline constexpr CK_BBOOL kTrue = CK_TRUE;
inline constexpr CK_BBOOL kFalse = CK_FALSE;

// A template entry; the module reads it, never writes it.
template <typename T>
requires std::is_arithmetic_v<T> CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, const T& value) {
  return {type, const_cast<T*>(&value), sizeof(T)};
}
inline CK_ATTRIBUTE Attribute(CK_ATTRIBUTE_TYPE type, std::span<const uint8_t> bytes) {
  return {type, const_cast<uint8_t*>(bytes.data()), bytes.size()};
}

// A session, and the login the store made on it: logged out and closed together.
class TokenSession {
 public:
  TokenSession(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE handle)
      : functions_(functions), handle_(handle) {}
  ~TokenSession();
  TokenSession(const TokenSession&) = delete;
  TokenSession& operator=(const TokenSession&) = delete;

  CK_SESSION_HANDLE handle() const { return handle_; }
  void LoggedIn() { loggedIn_ = true; }

 private:
  CK_FUNCTION_LIST* functions_;
  CK_SESSION_HANDLE handle_;
  bool loggedIn_ = false;
};

// An object a call made: destroyed when the call fails, kept once released.
class MadeObject {
 public:
  MadeObject(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE handle)
      : functions_(functions), session_(session), handle_(handle) {}
  ~MadeObject() {
    if (handle_ != CK_INVALID_HANDLE) functions_->C_DestroyObject(session_, handle_);
  }
  MadeObject(const MadeObject&) = delete;
  MadeObject& operator=(const MadeObject&) = delete;

  CK_OBJECT_HANDLE get() const { return handle_; }
  void release() { handle_ = CK_INVALID_HANDLE; }

 private:
  CK_FUNCTION_LIST* functions_;
  CK_SESSION_HANDLE session_;
  CK_OBJECT_HANDLE handle_;
};

// Every object matching the template, in the token's order.
CK_RV FindObjects(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session,
                  std::span<const CK_ATTRIBUTE> match, std::vector<CK_OBJECT_HANDLE>& found);

// An attribute's bytes; CKR_ATTRIBUTE_TYPE_INVALID when the object has none.
CK_RV ReadAttribute(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                    CK_ATTRIBUTE_TYPE type, std::vector<uint8_t>& value);

// A big-endian integer as CKA_MODULUS and DER compare it.
std::span<const uint8_t> WithoutLeadingZeros(std::span<const uint8_t> integer);

// The token's PKCS #1 v1.5 mechanism with the build's hash.
CK_MECHANISM_TYPE SignatureMechanism(SignatureHash hash);

// The signature of data by key, as long as the key makes it, most
// significant byte first. Ends the signing operation on every path.
CK_RV SignOnce(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
               std::span<const uint8_t> data, std::vector<uint8_t>& signature);

}  // namespace zvcert
