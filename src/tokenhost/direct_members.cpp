#include "tokenhost/direct_members.h"

#include <unistd.h>

#include <array>
#include <charconv>
#include <utility>

#include "host/consent_text.h"
#include "host/json.h"
#include "npapi/members.h"
#include "script/script_call.h"
#include "script/version_number.h"

namespace zvhost {
namespace {

using zvcert::StoreProblem;

// A method's value as the browser would have received it; a text longer
// than the caller takes is dropped, the method's answer kept.
class ReplyResult final : public zvcert::MethodResult {
 public:
  ReplyResult(CallResult& call, size_t maxText) : call_(call), maxText_(maxText) {}
  void Int(int32_t value) override { call_.value = value; }

 private:
  bool PutText(std::string_view text) override {
    call_.textTooLong = text.size() > maxText_;
    call_.value = call_.textTooLong ? Value() : Value(std::string(text));
    return true;
  }
  CallResult& call_;
  size_t maxText_;
};

// As a page reads the computer's name: at most 79 characters.
std::string HostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) return {};
  std::string text(name.data());
  if (text.size() > 79) text.resize(79);
  return text;
}

}  // namespace

std::optional<Refusal> RefusalOf(StoreProblem problem) {
  switch (problem) {
    case StoreProblem::None:
      return std::nullopt;
    case StoreProblem::NoModule:
      return Refusal{Reason::NoModule, "the token's PKCS #11 module cannot be loaded"};
    case StoreProblem::NoToken:
      return Refusal{Reason::NoToken, "no token is present"};
    case StoreProblem::PinRequired:
      return Refusal{Reason::PinRequired, "the token needs its PIN first"};
    case StoreProblem::PinIncorrect:
      return Refusal{Reason::PinIncorrect, "the PIN is wrong"};
    case StoreProblem::PinLocked:
      return Refusal{Reason::PinLocked, "the token's PIN is locked"};
    case StoreProblem::TokenRemoved:
      return Refusal{Reason::TokenRemoved, "the token was removed"};
  }
  return Refusal{Reason::Failed, "the token failed"};
}

DirectMembers::DirectMembers(zvcert::TokenStore& store) : tokens_(store), state_(store) {}

// As the plug-in's dispatch takes a call: the method's required arguments
// must be strings, others are not read.
CallResult DirectMembers::Invoke(const std::string& method, std::vector<Value> args,
                                 size_t maxText) {
  CallResult call;
  state_.ReadRootIssuerName();
  const zvcert::MemberInfo* info = zvcert::FindMember(method);
  if (info == nullptr || info->kind != zvcert::MemberKind::Method) return call;
  const zvcert::Member member = static_cast<zvcert::Member>(info - zvcert::kMembers.data());
  if (args.size() < info->strings) return call;
  std::array<std::string_view, 2> texts;
  static_assert([] {
    for (const zvcert::MemberInfo& member : zvcert::kMembers) {
      if (member.strings > 2) return false;
    }
    return true;
  }());
  for (uint32_t i = 0; i < info->strings; ++i) {
    const std::string* text = std::get_if<std::string>(&args[i]);
    if (text == nullptr) return call;
    texts[i] = *text;
  }
  state_.store.ClearProblem();
  ReplyResult result(call, maxText);
  call.ok =
      zvcert::RunMethod(state_, member, zvcert::MethodArgs(texts.data(), info->strings), result);
  call.refused = RefusalOf(state_.store.problem());
  return call;
}

CallResult DirectMembers::GetProperty(const std::string& name) {
  CallResult call;
  if (name == "Version") {
    call.value = zvcert::VersionNumberFromText(ZVCERT_PROJECT_VERSION);
  } else if (name == "HostName") {
    call.value = HostName();
  } else {
    return call;
  }
  call.ok = true;
  return call;
}

std::optional<Refusal> DirectMembers::Login(std::string_view slot, std::string_view pin) {
  if (!slot.empty()) {
    std::vector<zvcert::TokenInfo> tokens;
    tokens_.Tokens(tokens);
    const std::optional<CK_SLOT_ID> inUse =
        tokens_.chosen() ? tokens_.chosen()
                         : (tokens.empty() ? std::nullopt : std::optional(tokens.front().slot));
    if (!inUse || std::to_string(*inUse) != slot) {
      return Refusal{Reason::TokenRemoved, "the token the PIN was asked for is no longer in use"};
    }
  }
  return RefusalOf(tokens_.Login(pin));
}

// The chosen one is the one the members use. A token names itself: its
// texts are shown by the rule certificates' names are, so that none
// reorders or hides part of the window that asks the user about it.
std::string DirectMembers::TokensJson() {
  const auto Shown = [](const std::string& text) { return json::Quote(ShowName(text).text); };
  std::vector<zvcert::TokenInfo> tokens;
  tokens_.Tokens(tokens);
  const auto IsChosen = [&](const zvcert::TokenInfo& token) {
    return tokens_.chosen() ? token.slot == *tokens_.chosen() : &token == &tokens.front();
  };
  std::string list;
  for (const zvcert::TokenInfo& token : tokens) {
    if (!list.empty()) list += ',';
    list += "{\"slot\":" + json::Quote(std::to_string(token.slot)) +
            ",\"label\":" + Shown(token.label) + ",\"manufacturer\":" + Shown(token.manufacturer) +
            ",\"model\":" + Shown(token.model) + ",\"serial\":" + Shown(token.serialNumber) +
            ",\"pinPad\":" + (token.protectedAuthenticationPath ? "true" : "false") +
            ",\"chosen\":" + (IsChosen(token) ? "true" : "false") + "}";
  }
  return "[" + list + "]";
}

// A slot is the decimal text tokens gave; any other names no token.
std::optional<Refusal> DirectMembers::UseToken(std::string_view slot) {
  CK_SLOT_ID id = 0;
  const auto [end, error] = std::from_chars(slot.data(), slot.data() + slot.size(), id);
  if (slot.empty() || error != std::errc() || end != slot.data() + slot.size()) {
    return RefusalOf(StoreProblem::NoToken);
  }
  return RefusalOf(tokens_.Choose(id));
}

}  // namespace zvhost
