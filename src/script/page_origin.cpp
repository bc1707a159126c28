#include "script/page_origin.h"

#include "npapi/browser.h"

namespace zvcert {
namespace {

// The property's value, or false; a true result leaves value for the caller
// to release.
bool ReadProperty(NPP npp, NPObject* obj, const char* name, NPVariant& value) {
  value.type = NPVariantType_Void;
  const NPIdentifier id = NPN_GetStringIdentifier(name);
  return id != nullptr && NPN_GetProperty(npp, obj, id, &value);
}

bool Listed(const NPVariant& origin, std::span<const std::string_view> origins) {
  if (origin.type != NPVariantType_String) return false;
  const NPString& s = origin.value.stringValue;
  if (s.UTF8Characters == nullptr) return false;
  const std::string_view text(s.UTF8Characters, s.UTF8Length);
  for (const std::string_view allowed : origins) {
    if (text == allowed) return true;
  }
  return false;
}

}  // namespace

bool PageOriginAllowed(NPP npp, std::span<const std::string_view> origins) {
  NPObject* window = nullptr;
  if (NPN_GetValue(npp, NPNVWindowNPObject, &window) != NPERR_NO_ERROR || window == nullptr) {
    return false;
  }
  bool allowed = false;
  NPVariant location;
  if (ReadProperty(npp, window, "location", location)) {
    NPVariant origin;
    if (location.type == NPVariantType_Object &&
        ReadProperty(npp, location.value.objectValue, "origin", origin)) {
      allowed = Listed(origin, origins);
      NPN_ReleaseVariantValue(&origin);
    }
    NPN_ReleaseVariantValue(&location);
  }
  NPN_ReleaseObject(window);
  return allowed;
}

}  // namespace zvcert
