// The one scriptable object per plug-in instance that page script calls.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "npapi/npapi.h"
#include "script/member_state.h"

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

class ScriptablePluginObject final : public ScriptablePluginObjectBase, public MemberState {
 public:
  explicit ScriptablePluginObject(NPP owner);
  ~ScriptablePluginObject() override;

  bool HasMethod(NPIdentifier name) override;
  bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
              NPVariant* result) override;
  bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result) override;
  bool HasProperty(NPIdentifier name) override;
  bool GetProperty(NPIdentifier name, NPVariant* result) override;

  // A build locked to the authority's pages serves those alone.
  bool ServesPage() override;
};

// The class record the browser creates the object through.
extern NPClass ScriptablePluginObjectClass;

// Property values (properties.cpp).
bool GetVersionProperty(NPVariant* result);
bool GetHostNameProperty(NPP npp, NPVariant* result);

}  // namespace zvcert
