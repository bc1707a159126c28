// The one place where script values become plain C++ values and back:
// arguments as text views, results as an integer or a copied text.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "npapi/npapi.h"

namespace zvcert {

class ScriptablePluginObject;

// The required arguments of a call, all strings, as views of the browser's
// bytes (valid for the call only; a zero byte may stand anywhere).
using MethodArgs = std::span<const std::string_view>;

// Writes a handler's value into the browser's result.
class MethodResult {
 public:
  explicit MethodResult(NPVariant* result) : result_(result) {}
  void Int(int32_t value);
  // False, with the result left void, when the browser has no memory.
  bool Text(std::string_view text);
  bool allocationFailed() const { return allocationFailed_; }

 private:
  NPVariant* result_;
  bool allocationFailed_ = false;
};

using MethodHandler = bool (*)(ScriptablePluginObject& object, MethodArgs args,
                               MethodResult& result);

// The method dispatcher behind ScriptablePluginObject::Invoke.
bool InvokeMethod(ScriptablePluginObject& object, NPIdentifier name, const NPVariant* args,
                  uint32_t argCount, NPVariant* result);

// Handlers (codec_methods.cpp).
bool SetSubject(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);
bool SetChallenge(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);
bool Base64Encode(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);
bool Base64Decode(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);
// Handler of GetCSR (request_method.cpp).
bool GetCSR(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);
// Handlers of the certificate methods (certificate_methods.cpp).
bool FindCert(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);
bool IsCertExist(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);
bool DelCert(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);
bool ImportCert(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);
bool CertSign(ScriptablePluginObject& object, MethodArgs args, MethodResult& result);

}  // namespace zvcert
