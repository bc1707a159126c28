// The host's commands, as protocol.def lists them. One member of a message
// names its command:
//
//   {"id": 2, "page": "https://ca.example.com"}   (first, from the extension)
//   {"id": 3, "status": {}}, {"describe": {...}}, {"list": {}}, {"signCms": {...}}
//   {"id": 1, "member": "GetCSR", "args": []}     (a call to the plug-in's object)
//
// Each handler answers with an Outcome; the reply writer gives it its shape.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "host/connection.h"
#include "host/json.h"
#include "host/reply.h"

namespace zvhost {

// field is the member of the message that named the command.
using Handler = Outcome (*)(Connection& connection, json::Value& field, json::Value& message);

struct Answer {
  std::string id;  // JSON text; null when the message has no usable id
  Outcome outcome;
};

// The message is let go of once read: what it holds is in the document then,
// and the call may need the room.
Answer AnswerMessage(Connection& connection, std::unique_ptr<char[]> message, size_t size);

// A message the host cannot read as a command.
inline Outcome Malformed(std::string why) {
  return ErrorOutcome(Reason::Malformed, std::move(why));
}
inline Outcome NoPlugin() {
  return ErrorOutcome(Reason::NoPlugin, "npzvcert.dll could not be started");
}

// One handler for each command of the list: one without its handler does
// not link. Those about the authority's certificates are in
// certificate_commands.cpp.
#define ZVCERT_COMMAND(key, handler, ...) \
  Outcome handler(Connection& connection, json::Value& field, json::Value& message);
#define ZVCERT_REASON(...)
#include "host/protocol.def"
#undef ZVCERT_REASON
#undef ZVCERT_COMMAND

}  // namespace zvhost
