// The page's object as the host's commands reach it: the plug-in's
// scriptable object through NPAPI on Windows, the members answered in the
// host itself elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/protocol.h"
#include "npapi/npapi.h"

namespace zvhost {

// A script value as page script sees it. monostate is void, nullptr_t null.
using Value =
    std::variant<std::monostate, std::nullptr_t, bool, int32_t, double, std::string, NPObject*>;

// Why the store behind the object could not act at all (no token, no PIN):
// the reply says so in the place of the call's own result.
struct Refusal {
  Reason reason;
  std::string why;
};

struct CallResult {
  bool ok = false;
  Value value;
  // The call was not made: there was no memory for its arguments' copies.
  bool noMemory = false;
  // Its text result was longer than the caller takes and was not copied;
  // value is void.
  bool textTooLong = false;
  // False: the call left the browser's result as it was handed over.
  bool resultWritten = true;
  std::optional<Refusal> refused;
};

class MemberObject {
 public:
  virtual ~MemberObject() = default;
  // The arguments' strings are let go of as they are used; a text result
  // longer than maxText is not copied.
  virtual CallResult Invoke(const std::string& method, std::vector<Value> args, size_t maxText) = 0;
  virtual CallResult GetProperty(const std::string& name) = 0;
  // The origin of the page the connection serves, as the extension names it.
  virtual void SetPage(const std::string& origin) = 0;
  // Logs in to the store with the user's PIN (empty: the token's own PIN
  // pad); a store without one has nothing to do. The PIN is not kept.
  // A slot (as tokens names it) logs in only if that token is the one in use.
  virtual std::optional<Refusal> Login(std::string_view /*slot*/, std::string_view /*pin*/) {
    return std::nullopt;
  }
  // The tokens present as a JSON array (protocol.def); none by default.
  virtual std::string TokensJson() { return "[]"; }
  // Makes the token in that slot (as tokens names it) the one calls use.
  virtual std::optional<Refusal> UseToken(std::string_view /*slot*/) {
    return Refusal{Reason::Failed, "there is no such token"};
  }
};

}  // namespace zvhost
