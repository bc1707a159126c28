// The methods' table: each method's handler and what a build locked to the
// authority's pages answers any other page.
#include <array>

#include "script/member_state.h"
#include "script/script_call.h"

namespace zvcert {
namespace {

// What a certificate method answers a page the build does not serve: what
// it answers when nothing is there, the call's success included.
enum class Locked { Serves, NothingFound, NoneThere, NothingPending, NothingToSign };

struct MethodEntry {
  Member member;
  MethodHandler handler;
  Locked locked = Locked::Serves;
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
    {Member::GetCSR, GetCSR},
    {Member::Base64Encode, Base64Encode},
    {Member::Base64Decode, Base64Decode},
}};
// Every method of the list has its handler here, and a locked answer exactly
// where the list locks it.
static_assert([] {
  if (kMethods.size() != kMemberCount - kFirstMethod) return false;
  for (const MethodEntry& entry : kMethods) {
    const MemberInfo& info = InfoOf(entry.member);
    if (info.kind != MemberKind::Method ||
        (info.lock == PageLock::Locked) != (entry.locked != Locked::Serves)) {
      return false;
    }
  }
  return true;
}());

// A page the build does not serve sees nothing there.
bool AnswerUnserved(Locked locked, MethodResult& result) {
  switch (locked) {
    case Locked::NothingFound:
      return result.Text("");
    case Locked::NothingToSign:
      result.Text("");
      return false;
    case Locked::NothingPending:
      result.Int(-1);
      return false;
    default:
      result.Int(0);
      return true;
  }
}

}  // namespace

bool RunMethod(MemberState& object, Member method, MethodArgs args, MethodResult& result) {
  for (const MethodEntry& entry : kMethods) {
    if (entry.member != method) continue;
    if (entry.locked != Locked::Serves && !object.ServesPage()) {
      return AnswerUnserved(entry.locked, result);
    }
    // Where requests wait in the store, a request adds to what it keeps and
    // may prune others there: only the pages the build serves may.
    if (method == Member::GetCSR && object.store.RequestChangesStore() && !object.ServesPage()) {
      result.Text("");
      return false;
    }
    const bool ok = entry.handler(object, args, result);
    return ok && !result.allocationFailed();
  }
  return false;
}

}  // namespace zvcert
