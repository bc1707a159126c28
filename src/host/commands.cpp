#include "host/commands.h"

#include "npapi/members.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace zvhost {
namespace {

// An id is echoed in every reply: a longer one is refused, not copied.
constexpr size_t kMaxIdLength = 64;

std::string ValueText(const Value& value) {
  if (const bool* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
  if (const int32_t* i = std::get_if<int32_t>(&value)) return std::to_string(*i);
  if (const double* d = std::get_if<double>(&value)) return json::FormatNumber(*d);
  if (const std::string* s = std::get_if<std::string>(&value)) return json::Quote(*s);
  // void, null, and objects, which the plug-in never returns.
  return "null";
}

// Arguments become the NPVariants a page's script would pass: whole numbers
// in int32 range as int32, other numbers as double. Text is moved, not copied.
bool ToArgument(json::Value& in, Value& out) {
  switch (in.type) {
    case json::Type::Null:
      out = nullptr;
      return true;
    case json::Type::Bool:
      out = in.boolean;
      return true;
    case json::Type::String:
      out = std::move(in.text);
      return true;
    case json::Type::Number:
      if (const std::optional<int32_t> whole = json::AsInt32(in.number)) {
        out = *whole;
      } else {
        out = in.number;
      }
      return true;
    default:
      return false;
  }
}

}  // namespace

// {"page": origin}: the origin of the page the connection serves, as the
// extension was told it by the browser. The plug-in reads it as
// window.location.origin, which a build locked to the authority's pages
// checks.
Outcome SetPage(Connection& connection, json::Value& origin, json::Value& /*message*/) {
  if (origin.type != json::Type::String || origin.text.empty() || origin.text.size() > 2048) {
    return Malformed("page is not an origin text of 1 to 2048 characters");
  }
  if (connection.pageSet) return ErrorOutcome(Reason::Failed, "the page is already set");
  connection.pageSet = true;
  if (connection.object != nullptr) connection.object->SetPage(origin.text);
  return ValueOutcome("null");
}

// {"status": {}}: the host's version and the plug-in's, null when the DLL
// could not be started.
Outcome Status(Connection& connection, json::Value& /*field*/, json::Value& /*message*/) {
  std::string plugin = "null";
  if (connection.object != nullptr) {
    const CallResult version = connection.object->GetProperty("Version");
    if (version.ok) plugin = ValueText(version.value);
  }
  return ValueOutcome("{\"host\":" + json::Quote(ZVCERT_PROJECT_VERSION) + ",\"plugin\":" + plugin +
                      "}");
}

// {"login": {"pin": text}}: the user's PIN for the token, as the extension's
// own window asked it; without one, the token's PIN pad. The host logs in
// and lets go of the PIN.
Outcome Login(Connection& connection, json::Value& what, json::Value& /*message*/) {
  json::Value* pin = what.Find("pin");
  const json::Value* slot = what.Find("slot");
  if (pin != nullptr && pin->type != json::Type::String) return Malformed("pin is not a text");
  if (slot != nullptr && slot->type != json::Type::String) return Malformed("slot is not a text");
  if (connection.object == nullptr) return NoPlugin();
  std::string text = pin != nullptr ? std::move(pin->text) : std::string();
  const std::optional<Refusal> refused =
      connection.object->Login(slot != nullptr ? slot->text : std::string_view(), text);
  std::fill(text.begin(), text.end(), '\0');
  if (refused) return ErrorOutcome(refused->reason, refused->why);
  return ValueOutcome("null");
}

// {"tokens": {}}: the tokens a key could be made on or used from.
Outcome Tokens(Connection& connection, json::Value& /*field*/, json::Value& /*message*/) {
  if (connection.object == nullptr) return NoPlugin();
  return ValueOutcome(connection.object->TokensJson());
}

// {"useToken": {"slot": text}}: the token the user chose.
Outcome UseToken(Connection& connection, json::Value& what, json::Value& /*message*/) {
  const json::Value* slot = what.Find("slot");
  if (slot == nullptr || slot->type != json::Type::String) return Malformed("slot is not a text");
  if (connection.object == nullptr) return NoPlugin();
  if (const std::optional<Refusal> refused = connection.object->UseToken(slot->text)) {
    return ErrorOutcome(refused->reason, refused->why);
  }
  return ValueOutcome("null");
}

// {"member": name, "args": [...]}: a method called or a property read on the
// plug-in's object, as page script would; the reply's ok is the call's.
Outcome CallMember(Connection& connection, json::Value& member, json::Value& message) {
  if (member.type != json::Type::String) return Malformed("member missing or not a string");
  const zvcert::MemberInfo* info = zvcert::FindMember(member.text);
  if (info == nullptr) return Malformed("unknown member");
  const bool isMethod = info->kind == zvcert::MemberKind::Method;

  std::vector<Value> args;
  if (json::Value* list = message.Find("args")) {
    if (list->type != json::Type::Array) return Malformed("args is not an array");
    for (size_t i = 0; i < list->items.size(); ++i) {
      Value arg;
      if (!ToArgument(list->items[i], arg)) {
        return Malformed("argument " + std::to_string(i + 1) +
                         " is not a string, number, boolean or null");
      }
      args.push_back(std::move(arg));
    }
  }
  if (!isMethod && !args.empty()) return Malformed("a property takes no arguments");
  if (connection.object == nullptr) return NoPlugin();

  // A text result longer than a reply may be is not even copied.
  const CallResult result = isMethod
                                ? connection.object->Invoke(member.text, std::move(args), kMaxReply)
                                : connection.object->GetProperty(member.text);
  if (result.refused) return ErrorOutcome(result.refused->reason, result.refused->why);
  if (result.noMemory) return ErrorOutcome(Reason::Failed, "out of memory");
  if (result.textTooLong) return TooLong();
  return ValueOutcome(ValueText(result.value), result.ok);
}

namespace {

struct Command {
  std::string_view key;
  Handler handle;
  ValueType type;
};

// The first of these members that a message holds names its command.
constexpr Command kCommands[] = {
#define ZVCERT_COMMAND(key, handler, type, ...) {#key, handler, ValueType::type},
#define ZVCERT_REASON(...)
#include "host/protocol.def"
#undef ZVCERT_REASON
#undef ZVCERT_COMMAND
};

Outcome Dispatch(Connection& connection, json::Value& message) {
  for (const Command& command : kCommands) {
    json::Value* field = message.Find(command.key);
    if (field == nullptr) continue;
    // A text's handler says what text it takes.
    if (command.type == ValueType::Object && field->type != json::Type::Object) {
      return Malformed(std::string(command.key) + " is not an object");
    }
    return command.handle(connection, *field, message);
  }
  // Naming none, it is a call without its member.
  json::Value none;
  return CallMember(connection, none, message);
}

}  // namespace

Answer AnswerMessage(Connection& connection, std::unique_ptr<char[]> message, size_t size) {
  json::ParseResult doc = json::Parse({message.get(), size});
  // What it held (a PIN among it) is not left in freed memory.
  std::fill_n(message.get(), size, '\0');
  message.reset();
  // A document refused for a limit is answered under its id when that came
  // before what was refused.
  if (!doc.ok && !doc.overLimit) return {"null", Malformed("malformed JSON: " + doc.error)};
  // What the reader refused past a bound is too long, not malformed.
  const auto refused = [&doc](const char* why) {
    return doc.ok ? Malformed(why) : ErrorOutcome(Reason::TooLong, doc.error);
  };
  if (doc.value.type != json::Type::Object) return {"null", refused("not a JSON object")};

  const json::Value* idValue = doc.value.Find("id");
  const bool idUsable = idValue != nullptr && (idValue->type == json::Type::Number ||
                                               idValue->type == json::Type::String);
  if (!idUsable) return {"null", refused("id missing or not a number or string")};
  if (idValue->text.size() > kMaxIdLength) return {"null", refused("id longer than 64 characters")};
  std::string id = idValue->type == json::Type::Number ? idValue->text : json::Quote(idValue->text);
  if (!doc.ok) return {std::move(id), ErrorOutcome(Reason::TooLong, doc.error)};
  return {std::move(id), Dispatch(connection, doc.value)};
}

}  // namespace zvhost
