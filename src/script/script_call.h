// The one place where script values become plain C++ values and back:
// arguments as text views, results as an integer or a copied text.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "npapi/members.h"
#include "npapi/npapi.h"

namespace zvcert {

class MemberState;
class ScriptablePluginObject;

// The required arguments of a call, all strings, as views of the browser's
// bytes (valid for the call only; a zero byte may stand anywhere).
using MethodArgs = std::span<const std::string_view>;

// Where a handler's value goes: the browser's result, or a host's reply.
class MethodResult {
 public:
  virtual void Int(int32_t value) = 0;
  // False, with the result left void, when there is no memory for the text.
  bool Text(std::string_view text) {
    if (PutText(text)) return true;
    allocationFailed_ = true;
    return false;
  }
  bool allocationFailed() const { return allocationFailed_; }

 protected:
  ~MethodResult() = default;
  virtual bool PutText(std::string_view text) = 0;

 private:
  bool allocationFailed_ = false;
};

using MethodHandler = bool (*)(MemberState& object, MethodArgs args, MethodResult& result);

// A method of members.def called with its required string arguments: the
// handler's answer, or what a locked method answers a page it does not
// serve. The method's success, as script sees it.
bool RunMethod(MemberState& object, Member method, MethodArgs args, MethodResult& result);

// The method dispatcher behind ScriptablePluginObject::Invoke.
bool InvokeMethod(ScriptablePluginObject& object, NPIdentifier name, const NPVariant* args,
                  uint32_t argCount, NPVariant* result);

// Handlers (codec_methods.cpp).
bool SetSubject(MemberState& object, MethodArgs args, MethodResult& result);
bool SetChallenge(MemberState& object, MethodArgs args, MethodResult& result);
bool Base64Encode(MemberState& object, MethodArgs args, MethodResult& result);
bool Base64Decode(MemberState& object, MethodArgs args, MethodResult& result);
// Handler of GetCSR (request_method.cpp).
bool GetCSR(MemberState& object, MethodArgs args, MethodResult& result);
// Handlers of the certificate methods (certificate_methods.cpp).
bool FindCert(MemberState& object, MethodArgs args, MethodResult& result);
bool IsCertExist(MemberState& object, MethodArgs args, MethodResult& result);
bool DelCert(MemberState& object, MethodArgs args, MethodResult& result);
bool ImportCert(MemberState& object, MethodArgs args, MethodResult& result);
bool CertSign(MemberState& object, MethodArgs args, MethodResult& result);

}  // namespace zvcert
