// Method calls from the browser: the root issuer name read once, the
// method found by identifier, its string arguments taken, the method run.
#include <array>

#include "script/members.h"
#include "script/results.h"
#include "script/script_call.h"
#include "script/scriptable_object.h"

namespace zvcert {
namespace {

constexpr uint32_t kMostRequired = 2;
static_assert([] {
  for (size_t i = kFirstMethod; i < kMemberCount; ++i) {
    if (kMembers[i].strings > kMostRequired) return false;
  }
  return true;
}());

// The browser's result.
class VariantResult final : public MethodResult {
 public:
  explicit VariantResult(NPVariant* result) : result_(result) {}
  void Int(int32_t value) override { SetIntResult(result_, value); }

 private:
  bool PutText(std::string_view text) override { return SetStringResult(result_, text); }
  NPVariant* result_;
};

}  // namespace

bool InvokeMethod(ScriptablePluginObject& object, NPIdentifier name, const NPVariant* args,
                  uint32_t argCount, NPVariant* result) {
  SetVoidResult(result);
  object.ReadRootIssuerName();

  const std::optional<Member> method = FindMethod(name);
  if (!method) return false;
  const uint32_t required = InfoOf(*method).strings;
  if (argCount < required) return false;
  std::array<std::string_view, kMostRequired> texts;
  for (uint32_t i = 0; i < required; ++i) {
    if (args[i].type != NPVariantType_String) return false;
    const NPString& s = args[i].value.stringValue;
    texts[i] = std::string_view(s.UTF8Characters, s.UTF8Length);
  }
  VariantResult methodResult(result);
  return RunMethod(object, *method, MethodArgs(texts.data(), required), methodResult);
}

}  // namespace zvcert
