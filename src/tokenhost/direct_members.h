// The members answered in the host itself, by the plug-in's own member code
// over a PKCS #11 token: where there is no plug-in to load, as on Linux.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host/member_object.h"
#include "script/member_state.h"
#include "token/token_store.h"

namespace zvhost {

// What a store's problem tells the page; nothing for None.
std::optional<Refusal> RefusalOf(zvcert::StoreProblem problem);

class DirectMembers final : public MemberObject {
 public:
  explicit DirectMembers(zvcert::TokenStore& store);

  CallResult Invoke(const std::string& method, std::vector<Value> args, size_t maxText) override;
  CallResult GetProperty(const std::string& name) override;
  // Every page the extension serves: the extension holds the allow-list.
  void SetPage(const std::string& /*origin*/) override {}
  std::optional<Refusal> Login(std::string_view slot, std::string_view pin) override;
  std::string TokensJson() override;
  std::optional<Refusal> UseToken(std::string_view slot) override;

 private:
  zvcert::TokenStore& tokens_;
  zvcert::MemberState state_;
};

}  // namespace zvhost
