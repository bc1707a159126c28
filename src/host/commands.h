// The host's commands. One member of a message names its command:
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

// The commands about the authority's certificates (certificate_commands.cpp).
Outcome Describe(Connection& connection, json::Value& what, json::Value& message);
Outcome List(Connection& connection, json::Value& field, json::Value& message);
Outcome SignCms(Connection& connection, json::Value& what, json::Value& message);

}  // namespace zvhost
