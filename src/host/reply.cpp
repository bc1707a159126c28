#include "host/reply.h"

#include "host/framing.h"
#include "host/json.h"

namespace zvhost {
namespace {

std::string Shape(std::string_view id, const Outcome& outcome) {
  std::string reply = "{\"id\":";
  reply += id;
  if (outcome.ok) {
    reply += ",\"ok\":true";
  } else {
    reply += ",\"ok\":false,\"reason\":\"";
    reply += ReasonText(outcome.reason);
    reply += '"';
  }
  if (outcome.error) {
    reply += ",\"error\":";
    reply += json::Quote(outcome.text);
  } else {
    reply += ",\"value\":";
    reply += outcome.text;
  }
  reply += '}';
  return reply;
}

}  // namespace

Outcome TooLong() { return ErrorOutcome(Reason::TooLong, "the reply would exceed 1 MiB"); }

bool WriteReply(std::string_view id, const Outcome& outcome) {
  std::string reply = Shape(id, outcome);
  if (reply.size() > kMaxReply) reply = Shape(id, TooLong());
  return framing::Write(reply);
}

}  // namespace zvhost
