// What the host answers, and the one place a reply is shaped and written
// (the shapes are protocol.def's):
//   {"id": <id>, "ok": true, "value": <JSON>}
//   {"id": <id>, "ok": false, "reason": "failed", "value": <JSON>}
//   {"id": <id>, "ok": false, "reason": "<reason>", "error": "<why>"}
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "host/protocol.h"

namespace zvhost {

// Browsers accept replies of at most 1 MiB; the writer sends none longer.
// A command that knows early that its value cannot fit answers TooLong()
// instead of making it (a text result not copied, data not signed).
inline constexpr size_t kMaxReply = 1u << 20;

struct Outcome {
  bool error = false;              // text is then why
  bool ok = true;                  // what a value's reply says
  std::string text;                // the value as JSON, or why it failed
  Reason reason = Reason::Failed;  // of a reply that is not ok
};

inline Outcome ValueOutcome(std::string json, bool ok = true) {
  return {false, ok, std::move(json)};
}
inline Outcome ErrorOutcome(Reason reason, std::string why) {
  return {true, false, std::move(why), reason};
}
// A value that cannot fit in a reply.
Outcome TooLong();

// The reply under id (JSON text: a number, a string literal or null), or the
// refusal of one over 1 MiB. False when it could not be written.
bool WriteReply(std::string_view id, const Outcome& outcome);

}  // namespace zvhost
