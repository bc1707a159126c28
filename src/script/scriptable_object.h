// The one scriptable object per plug-in instance that page script calls.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "npapi/npapi.h"
#include "request/signed_request.h"

namespace zvcert {

// Operations the browser reaches through ScriptablePluginObjectClass; the base
// refuses everything.
class ScriptablePluginObjectBase : public NPObject {
 public:
  explicit ScriptablePluginObjectBase(NPP owner) : npp(owner) {}
  virtual ~ScriptablePluginObjectBase() = default;
  ScriptablePluginObjectBase(const ScriptablePluginObjectBase&) = delete;
  ScriptablePluginObjectBase& operator=(const ScriptablePluginObjectBase&) = delete;

  virtual void Invalidate() {}
  virtual bool HasMethod(NPIdentifier /*name*/) { return false; }
  virtual bool Invoke(NPIdentifier /*name*/, const NPVariant* /*args*/, uint32_t /*argCount*/,
                      NPVariant* /*result*/) {
    return false;
  }
  virtual bool InvokeDefault(const NPVariant* /*args*/, uint32_t /*argCount*/,
                             NPVariant* /*result*/) {
    return false;
  }
  virtual bool HasProperty(NPIdentifier /*name*/) { return false; }
  virtual bool GetProperty(NPIdentifier /*name*/, NPVariant* /*result*/) { return false; }
  virtual bool SetProperty(NPIdentifier /*name*/, const NPVariant* /*value*/) { return false; }
  virtual bool RemoveProperty(NPIdentifier /*name*/) { return false; }
  virtual bool Enumerate(NPIdentifier** /*identifiers*/, uint32_t* /*count*/) { return false; }
  virtual bool Construct(const NPVariant* /*args*/, uint32_t /*argCount*/, NPVariant* /*result*/) {
    return false;
  }

  NPP npp;  // the owning instance
};

// The subject used until script sets one: a value for each of the ten keys
// that a request reads, ending in the authority's service address.
inline constexpr std::string_view initialSubjectText =
    "C=CN, ST=ZV, L=ZV, O=OFFICE, OU=THIS-PC, SN=1111222233334444, CN=ZVUSER, "
    "G=3975136, T=Title, E=service@zvcert.test";
static_assert(initialSubjectText.size() == 114);

inline constexpr std::string_view kInitialChallenge = "quorvex";

class ScriptablePluginObject final : public ScriptablePluginObjectBase {
 public:
  explicit ScriptablePluginObject(NPP owner);
  ~ScriptablePluginObject() override;

  bool HasMethod(NPIdentifier name) override;
  bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
              NPVariant* result) override;
  bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result) override;
  bool HasProperty(NPIdentifier name) override;
  bool GetProperty(NPIdentifier name, NPVariant* result) override;

  // State shared by all script methods; character fields hold NUL-terminated
  // text within their size.
  std::array<char, 1024> subjectText;
  std::array<char, 32> unstructuredName;
  std::array<char, 32> challengePassword;
  std::array<char, 128> rootIssuerName;
  std::array<uint8_t, kKeyBlobAreaSize> pendingKeyBlob;  // private-key blob of the last request
  int32_t pendingKeyLength = 0;                          // 0 (or less): no key pending
  HeldKey KeyHeld() { return {pendingKeyBlob, pendingKeyLength}; }
};

// The class record the browser creates the object through.
extern NPClass ScriptablePluginObjectClass;

// Property values (properties.cpp).
bool GetVersionProperty(NPVariant* result);
bool GetHostNameProperty(NPP npp, NPVariant* result);

}  // namespace zvcert
