// Method calls: the root issuer name read once, the method found by
// identifier, the arguments checked, the handler run.
#include <array>

#include "script/members.h"
#include "script/page_origin.h"
#include "script/results.h"
#include "script/script_call.h"
#include "script/scriptable_object.h"
#include "store/pending_keys.h"
#include "store/root_certificate.h"

namespace zvcert {
namespace {

// What a certificate method answers a page the build does not serve: what
// it answers when nothing is there, the call's success included.
enum class Locked { Serves, NothingFound, NoneThere, NothingPending, NothingToSign, NothingMade };

struct MethodEntry {
  Member member;
  MethodHandler handler;
  Locked locked = Locked::Serves;
  uint32_t requiredStrings() const { return InfoOf(member).strings; }
};

// In the order identifiers are compared.
constexpr std::array<MethodEntry, 10> kMethods = {{
    {Member::FindCert, FindCert, Locked::NothingFound},
    {Member::IsCertExist, IsCertExist, Locked::NoneThere},
    {Member::DelCert, DelCert, Locked::NoneThere},
    {Member::ImportCert, ImportCert, Locked::NothingPending},
    {Member::CertSign, CertSign, Locked::NothingToSign},
    {Member::SetChallenge, SetChallenge},
    {Member::SetSubject, SetSubject},
    // Where requests wait in the user's store, a request adds to what it
    // keeps and may prune others there: only the pages the build serves may.
    {Member::GetCSR, GetCSR,
     PendingKeyPolicy::kRequestChangesStore ? Locked::NothingMade : Locked::Serves},
    {Member::Base64Encode, Base64Encode},
    {Member::Base64Decode, Base64Decode},
}};
constexpr uint32_t kMostRequired = 2;
// Every method of the list has its handler here, and a locked answer exactly
// where the list locks it, and GetCSR's where requests wait in the store.
static_assert([] {
  if (kMethods.size() != kMemberCount - kFirstMethod) return false;
  for (const MethodEntry& entry : kMethods) {
    const MemberInfo& info = InfoOf(entry.member);
    const bool storeLock = entry.locked == Locked::NothingMade;
    if (info.kind != MemberKind::Method || info.strings > kMostRequired ||
        storeLock != (PendingKeyPolicy::kRequestChangesStore && entry.member == Member::GetCSR) ||
        (info.lock == PageLock::Locked) != (entry.locked != Locked::Serves && !storeLock)) {
      return false;
    }
  }
  return true;
}());

const MethodEntry* FindEntry(NPIdentifier name) {
  const std::optional<Member> member = FindMethod(name);
  if (!member) return nullptr;
  for (const MethodEntry& entry : kMethods) {
    if (entry.member == *member) return &entry;
  }
  return nullptr;
}

}  // namespace

void MethodResult::Int(int32_t value) { SetIntResult(result_, value); }

bool MethodResult::Text(std::string_view text) {
  if (SetStringResult(result_, text)) return true;
  allocationFailed_ = true;
  return false;
}

bool InvokeMethod(ScriptablePluginObject& object, NPIdentifier name, const NPVariant* args,
                  uint32_t argCount, NPVariant* result) {
  SetVoidResult(result);
  if (object.rootIssuerName[0] == '\0') ReadRootIssuerName(object.rootIssuerName);

  const MethodEntry* entry = FindEntry(name);
  if (entry == nullptr || argCount < entry->requiredStrings()) return false;
  std::array<std::string_view, kMostRequired> texts;
  for (uint32_t i = 0; i < entry->requiredStrings(); ++i) {
    if (args[i].type != NPVariantType_String) return false;
    const NPString& s = args[i].value.stringValue;
    texts[i] = std::string_view(s.UTF8Characters, s.UTF8Length);
  }

  MethodResult methodResult(result);
  if (entry->locked != Locked::Serves && pageOriginCheck != nullptr &&
      !pageOriginCheck(object.npp)) {
    switch (entry->locked) {
      case Locked::NothingFound:
        return methodResult.Text("");
      case Locked::NothingToSign:
        methodResult.Text("");
        return false;
      case Locked::NothingPending:
        methodResult.Int(-1);
        return false;
      case Locked::NothingMade:
        methodResult.Text("");
        return false;
      default:
        methodResult.Int(0);
        return true;
    }
  }
  const bool ok =
      entry->handler(object, MethodArgs(texts.data(), entry->requiredStrings()), methodResult);
  return ok && !methodResult.allocationFailed();
}

}  // namespace zvcert
